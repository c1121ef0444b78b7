#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.h"
#include "tests/support/tool_run.h"

namespace kalvo::tool::test {
namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

struct Cli : ::testing::Test {
    kalvo::testing::TempDir dir;
    ToolRun run(const std::string& arguments) { return kalvoConfig(dir.path(), arguments); }
    void SetUp() override {
        // The folder's own model table is the one used.
        dir.write("ModelTbl.ini", kalvo::testing::TempDir().read("") + readExample());
    }
    static std::string readExample() {
        FILE* f = fopen(KALVO_EXAMPLE_MODEL_TABLE, "rb");
        std::string text;
        char b[4096];
        for (size_t n; f && (n = fread(b, 1, sizeof b, f)) > 0;) text.append(b, n);
        if (f) fclose(f);
        return text;
    }
};

TEST_F(Cli, EverySubcommandHasHelpAndBadUsageSaysWhatToDo) {
    for (const char* command :
         {"show", "check", "new", "board", "place", "remove", "modules", "dat"}) {
        ToolRun r = run(std::string(command) + " --help");
        EXPECT_EQ(r.exitCode, 0) << command;
        EXPECT_TRUE(contains(r.output, std::string("usage: kalvo-config [-C FOLDER] ") + command))
            << r.output;
    }
    ToolRun all = kalvoConfig(dir.path(), "--help");
    EXPECT_EQ(all.exitCode, 0);
    EXPECT_TRUE(contains(all.output, "place BOARD ADDRESS TYPE [MODEL...]"));
    struct Case {
        std::string arguments;
        int exitCode;
        std::string says;
    } cases[] = {
        {"frobnicate", 2, "unknown command \"frobnicate\""},
        {"new", 2, "no board chosen"},
        {"new --board 5=Pcimaster64", 2, "board slot \"5\": use 1 to 4"},
        {"new --board 1=Tolva", 2, "board kind \"Tolva\" is unknown"},
        {"new --board 1=Cardmaster:7", 2, "baud rate \"7\""},
        {"show", 1, "Kalvo.ini does not exist"},
    };
    for (const Case& c : cases) {
        ToolRun r = run(c.arguments);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.arguments << ": " << r.output;
        EXPECT_TRUE(contains(r.output, c.says)) << c.arguments << ": " << r.output;
    }
    ToolRun missing = kalvoConfig(dir.file("nowhere"), "show");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(contains(missing.output, "nowhere does not exist"));
}

TEST_F(Cli, AScriptBuildsChangesAndChecksANetwork) {
    ASSERT_EQ(run("new --board 1=Pcimaster64 --board 3=Cardmaster:12:1").exitCode, 0);
    EXPECT_TRUE(dir.exists("Kalvo.ini") && dir.exists("Cardmaster.ini") &&
                dir.exists("KalvoConfig.dat"));
    // Models by code, by code number (QMDIO16 is 17) and by plain name.
    for (const char* step : {"place 1 1 MST QMDIO16 17", "place 1 2 MST '4-channel analogue I/O'",
                             "place 1 4 AXS4", "place 2 0 RFID3", "modules 1 1 QMDIO16"}) {
        ToolRun r = run(step);
        ASSERT_EQ(r.exitCode, 0) << step << ": " << r.output;
    }
    const std::string before = dir.read("Kalvo.ini");
    struct Case {
        const char* step;
        const char* says;
    } refused[] = {
        {"place 1 29 AXS4", "address 29: an AXS4 station needs 4 free addresses"},
        {"place 1 5 MST", "continuation address"},
        {"modules 1 4 QMDIO16", "fixed modules"},
        {"modules 1 2 QMADA04 QMSIO01", "cannot be module 2"},
        {"modules 1 1 QMADA04 QMADA04", "overlap"},
        {"place 1 9 MST NOSUCH", "model \"NOSUCH\" is not in the model table"},
        {"new --board 1=Cardmaster",
         "already holds a configuration; a new one would replace "
         "Kalvo.ini, KalvoConfig.dat, Cardmaster.ini. Give --force"},
        {"remove 1 6", "continuation address; give the station's head address 4"},
        {"remove 3 0", "board \"3\" is not a configured board"},
        {"board 1 none", "board 2 exists, so board 1 cannot be set to not used"},
    };
    for (const Case& c : refused) {
        ToolRun r = run(c.step);
        EXPECT_NE(r.exitCode, 0) << c.step;
        EXPECT_TRUE(contains(r.output, c.says)) << c.step << ": " << r.output;
    }
    EXPECT_EQ(dir.read("Kalvo.ini"), before);

    ToolRun show = run("show");
    ASSERT_EQ(show.exitCode, 0) << show.output;
    for (const std::string& line : std::vector<std::string>{
             "model table: " + dir.file("ModelTbl.ini") + " (the configuration folder's own)",
             std::string("Board 1: Pcimaster64"), std::string("Board 2: Cardmaster"),
             std::string("12 Mbit/s, long frame 1"), std::string("DIO_1"), std::string("ADA_1"),
             std::string("offsets 0,1,2,3"), std::string("logical IDs 8,9,10,11"),
             std::string("AXSA_1"), std::string("RFID_1"), std::string("addresses 4-7"),
             std::string("QMADA04 (4-channel analogue I/O)")})
        EXPECT_TRUE(contains(show.output, line)) << line << "\n" << show.output;
    EXPECT_FALSE(contains(show.output, "DIO_2"));  // the station has one module now
    // Board 2's library is built; a kind whose library is not here only warns.
    ASSERT_EQ(run("board 2 KV40MST:6:0").exitCode, 0);
    ToolRun check = run("check");
    EXPECT_EQ(check.exitCode, 0) << check.output;
    EXPECT_TRUE(contains(check.output,
                         "warning: Kalvo.ini: [BOARD_2]: Kind=KV40MST: its library "
                         "KV40MST.so is not installed here"))
        << check.output;
    EXPECT_FALSE(contains(check.output, "[BOARD_1]")) << check.output;

    ASSERT_EQ(run("new --force --board 1=Pcimaster64 --board 2=Cardmaster").exitCode, 0);
    for (const char* step : {"place 1 1 MST QMDIO16 QMDIO16", "place 1 2 MST QMADA04",
                             "place 1 4 AXS4", "place 2 0 RFID3"})
        ASSERT_EQ(run(step).exitCode, 0) << step;
    ASSERT_EQ(run("remove 1 4").exitCode, 0);
    ASSERT_EQ(run("board 2 none").exitCode, 0);
    show = run("show");
    EXPECT_FALSE(contains(show.output, "AXSA_1"));
    EXPECT_FALSE(contains(show.output, "Board 2"));
    EXPECT_EQ(dir.read("KalvoConfig.dat").size(), 294u);
    dir.write("KalvoConfig.dat", "");
    ASSERT_EQ(run("dat").exitCode, 0);
    EXPECT_EQ(dir.read("KalvoConfig.dat").size(), 294u);
}

// A station at 31 whose modules take four addresses: check rejects it, show
// marks it, and no command saves it (the fuzzer's find).
TEST_F(Cli, NoCommandSavesAFolderThatCheckRejects) {
    std::string text =
        "[KALVO]\r\nConfigTool=1\r\nBoard=1\r\n[BOARD_1]\r\nKind=Pcimaster64\r\nLineMax=1\r\n"
        "[ADA_1]\r\nBoard=1\r\nLine=1\r\nBase=31\r\nOffset=0,1,2,3\r\n[CTR_1_1_31]\r\nMstFlg=1\r\n";
    for (int m = 0; m < 4; ++m)
        text += "Unit_" + std::to_string(m) + "=QMADA04\r\nCode_" + std::to_string(m) + "=33\r\n";
    dir.write("Kalvo.ini", text);
    ToolRun check = run("check");
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_TRUE(contains(check.output,
                         "[CTR_1_1_31]: the MST station needs 4 addresses and runs "
                         "past address 31"))
        << check.output;
    ToolRun show = run("show");
    EXPECT_TRUE(contains(show.output, "its units reach past address 31")) << show.output;
    EXPECT_FALSE(contains(show.output, "128")) << show.output;
    for (const char* step : {"board 1 Pcimaster64", "place 1 0 MST QMDIO16", "dat"}) {
        ToolRun r = run(step);
        EXPECT_EQ(r.exitCode, 1) << step;
        EXPECT_TRUE(contains(r.output, "[CTR_1_1_31]: the MST station needs 4 addresses"))
            << step << ": " << r.output;
    }
    EXPECT_EQ(dir.read("Kalvo.ini"), text);
    EXPECT_FALSE(dir.exists("KalvoConfig.dat"));
    // Fewer modules make it fit; then it saves.
    ToolRun fixed = run("modules 1 31 QMADA04");
    EXPECT_EQ(fixed.exitCode, 0) << fixed.output;
    EXPECT_EQ(run("check").exitCode, 0);
}

// The installed model table is found beside the program's own folder, also
// when the prefix was moved and the program is reached through a link.
TEST_F(Cli, AMovedPrefixUsesItsOwnModelTable) {
    kalvo::testing::TempDir prefix;
    std::filesystem::create_directories(prefix.file("bin"));
    std::filesystem::create_directories(prefix.file("share/kalvo"));
    // The program's libraries beside it, as installed.
    std::filesystem::create_directory_symlink(
        std::filesystem::path(KALVO_CONFIG_PATH).parent_path().parent_path() / "lib",
        prefix.file("lib"));
    std::filesystem::copy_file(KALVO_CONFIG_PATH, prefix.file("bin/kalvo-config"));
    std::filesystem::permissions(prefix.file("bin/kalvo-config"),
                                 std::filesystem::perms::owner_all);
    prefix.write("share/kalvo/ModelTbl.ini",
                 "[Config]\nUnitCount=1\n[Model_0]\nModel=QMMOVED\nName=moved relay\nType=DIO\n"
                 "Code=7\nId=1\nCh=1\nSeries=QMS\n");
    std::filesystem::create_directories(prefix.file("elsewhere"));
    std::filesystem::create_symlink(prefix.file("bin/kalvo-config"),
                                    prefix.file("elsewhere/kalvo-config"));
    kalvo::testing::TempDir work;  // no ModelTbl.ini of its own
    for (const char* program : {"bin/kalvo-config", "elsewhere/kalvo-config"}) {
        const auto r = kalvo::testing::runProgram(prefix.file(program) + " -C " +
                                                  quoted(work.path()) + " show --models");
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_TRUE(contains(r.output, "model table: " + prefix.file("share/kalvo/ModelTbl.ini") +
                                           " (installed; the configuration folder has none)"))
            << program << ": " << r.output;
        EXPECT_TRUE(contains(r.output, "QMMOVED")) << r.output;
        EXPECT_TRUE(contains(r.output, "moved relay")) << r.output;
    }
    std::filesystem::remove(prefix.file("share/kalvo/ModelTbl.ini"));
    const auto missing = kalvo::testing::runProgram(prefix.file("bin/kalvo-config") + " -C " +
                                                    quoted(work.path()) + " show --models");
    EXPECT_TRUE(contains(missing.output,
                         "no model table: looked for ModelTbl.ini in the "
                         "configuration folder, then " +
                             prefix.file("share/kalvo/ModelTbl.ini")))
        << missing.output;
}

TEST_F(Cli, CheckNamesEachProblemAndFails) {
    dir.write("Kalvo.ini",
              "[KALVO]\r\nConfigTool=1\r\nBoard=1\r\n[BOARD_1]\r\nKind=Pcimaster64\r\n"
              "LineMax=1\r\n[CTR_1_1_2]\r\nMstFlg=1\r\nUnit_0=QMNONE\r\nCode_0=5\r\n"
              "[DIO_1]\r\nBoard=2\r\nLine=1\r\nBase=0\r\nOffset=0\r\n");
    ToolRun r = run("check");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.output, "[DIO_1]: Board 2 is not a configured board")) << r.output;
    EXPECT_TRUE(contains(r.output, "[CTR_1_1_2]: Unit_0 \"QMNONE\"")) << r.output;
}

}  // namespace
}  // namespace kalvo::tool::test
