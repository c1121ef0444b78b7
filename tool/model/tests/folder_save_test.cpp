// The tool's save never writes a folder that its own check rejects, and
// never writes a board it did not understand over what is on disk.
#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tool/model/configuration_check.h"
#include "tool/model/configuration_files.h"
#include "tool/model/editor_operations.h"
#include "tool/model/folder_save.h"
#include "tool/model/tests/model_test_support.h"

namespace kalvo::tool::test {
namespace {

const std::string kKalvo = "[KALVO]\r\nConfigTool=1\r\n";
const std::string kPci2 = "[BOARD_2]\r\nKind=Pcimaster64\r\nLineMax=1\r\n";

std::string mstAt(int board, int address, const std::string& modules) {
    return "[CTR_" + std::to_string(board) + "_1_" + std::to_string(address) + "]\r\nMstFlg=1\r\n" +
           modules;
}

struct FolderSave : ::testing::Test {
    const ModelTable& t = exampleModels();
    kalvo::testing::TempDir dir;
    ConfigModel m{t};
    void SetUp() override { m.setFolder(dir.path()); }
    // Loads text as the folder's Kalvo.ini; the files as they are then.
    std::string open(const std::string& text) {
        dir.write("Kalvo.ini", text);
        EXPECT_TRUE(loadConfiguration(m).ok());
        return dir.read("Kalvo.ini");
    }
    static bool anyHas(const std::vector<std::string>& lines, const std::string& a,
                       const std::string& b) {
        for (const std::string& l : lines)
            if (l.find(a) != std::string::npos && l.find(b) != std::string::npos) return true;
        return false;
    }
};

// Each folder loads, but its network cannot be written as it stands: the save
// refuses, names why, and leaves every file as it was, also after an edit.
TEST_F(FolderSave, RefusesWhatWouldNotLoadAndLeavesTheFolderAlone) {
    const std::string four =
        "Unit_0=QMADA04\r\nCode_0=33\r\nUnit_1=QMADA04\r\nCode_1=33\r\n"
        "Unit_2=QMADA04\r\nCode_2=33\r\nUnit_3=QMADA04\r\nCode_3=33\r\n";
    const struct {
        const char* name;
        std::string text;
        std::string section, why;
    } cases[] = {
        {"unknown Kind",
         kKalvo + "Board=2\r\n[BOARD_1]\r\nKind=Tolva\r\nLineMax=1\r\n" + kPci2 +
             "[DIO_1]\r\nBoard=1\r\nLine=1\r\nBase=0\r\nOffset=0\r\n",
         "[BOARD_1]", "Kind \"Tolva\""},
        {"LineMax no kind has",
         kKalvo + "Board=2\r\n[BOARD_1]\r\nKind=Pcimaster64\r\nLineMax=2\r\n" + kPci2, "[BOARD_1]",
         "LineMax 2"},
        {"missing board section", kKalvo + "Board=2\r\n" + kPci2, "[BOARD_1]", "is missing"},
        // Four 4-slot modules at address 31: their IDs would lie past the line.
        {"station past address 31",
         kKalvo + "Board=1\r\n[BOARD_1]\r\nKind=Pcimaster64\r\nLineMax=1\r\n" +
             "[ADA_1]\r\nBoard=1\r\nLine=1\r\nBase=31\r\nOffset=0,1,2,3\r\n" + mstAt(1, 31, four),
         "[CTR_1_1_31]", "runs past address 31"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string before = open(c.text);
        const std::vector<std::string> problems = checkConfiguration(m, loadConfiguration(m));
        EXPECT_TRUE(anyHas(problems, c.section, c.why)) << (problems.empty() ? "" : problems[0]);
        SaveOutcome saved = saveFolder(m);
        EXPECT_TRUE(anyHas(saved.Refused, c.section, c.why))
            << (saved.Refused.empty() ? "saved" : saved.Refused[0]);
        // An edit elsewhere renumbers; the save still refuses.
        ASSERT_EQ(placeStation(m, m.slotOfBoard(m.boardCount()), 0, 10, kStaMst),
                  DropResult::placed);
        EXPECT_FALSE(saveFolder(m).Refused.empty());
        EXPECT_EQ(dir.read("Kalvo.ini"), before);
        EXPECT_FALSE(dir.exists("KalvoConfig.dat"));
    }
    m.setFolder("");
    EXPECT_TRUE(anyHas(saveFolder(m).Refused, "no configuration folder", "choose"));
}

// A board the tool did not understand stays one (the dialog's "not used"
// keeps it) until it is given a kind; then the folder saves.
TEST_F(FolderSave, ABoardNotUnderstoodIsKeptUntilItIsGivenAKind) {
    open(kKalvo + "Board=2\r\n[BOARD_1]\r\nKind=Tolva\r\nLineMax=1\r\n" + kPci2);
    ASSERT_FALSE(m.boardNotUnderstood(0).empty());
    const std::array<TLineSetRec, kBoardSlots> lines{{{3, 0}, {3, 0}, {3, 0}, {3, 0}}};
    BoardSettings kept = boardSettingsFromDialog(m, {0, 1, 0, 0}, lines);
    EXPECT_EQ(kept[0].BoardNo, 1);
    EXPECT_EQ(kept[1].BoardNo, 2);
    applyBoardSettings(m, kept);
    EXPECT_FALSE(m.boardNotUnderstood(0).empty());
    EXPECT_FALSE(saveFolder(m).Refused.empty());

    applyBoardSettings(m, boardSettingsFromDialog(m, {3, 1, 0, 0}, lines));
    EXPECT_TRUE(m.boardNotUnderstood(0).empty());
    const SaveOutcome saved = saveFolder(m);
    ASSERT_TRUE(saved.ok()) << (saved.Refused.empty() ? saved.DatError : saved.Refused[0]);
    EXPECT_NE(dir.read("Kalvo.ini").find("[BOARD_1]\r\nKind=Cardmaster\r\n"), std::string::npos);
}

TEST_F(FolderSave, ProgressCoversEveryAddressOfEveryLinePage) {
    m.startNew(boardSettingsFromKinds({1, 0, 3, 0}, {{{3, 0}, {3, 0}, {6, 1}, {3, 0}}}));
    int last = 0, total = 0, calls = 0;
    ASSERT_TRUE(saveFolder(m, [&](int done, int all) {
                    EXPECT_EQ(done, last + 1);
                    last = done, total = all, ++calls;
                }).ok());
    EXPECT_EQ(total, 2 * kAddresses);
    EXPECT_EQ(calls, total);
}

TEST_F(FolderSave, NewAsksAboutTheFilesASaveWouldReplace) {
    const BoardSettings card = boardSettingsFromKinds({3, 1, 0, 0}, {{{12, 1}, {3, 0}, {}, {}}});
    EXPECT_TRUE(filesASaveReplaces(dir.path(), card).empty());
    dir.write("KalvoConfig.dat", "x");
    dir.write("Cardmaster.ini", "[BOARD_0]\r\n");
    dir.write("Dualmaster.ini", "");  // no board of this save uses it
    EXPECT_EQ(filesASaveReplaces(dir.path(), card),
              (std::vector<std::string>{"KalvoConfig.dat", "Cardmaster.ini"}));
    dir.write("Kalvo.ini", "");
    EXPECT_EQ(filesASaveReplaces(dir.path() + "/", oneBoard(1)),
              (std::vector<std::string>{"Kalvo.ini", "KalvoConfig.dat"}));
}

}  // namespace
}  // namespace kalvo::tool::test
