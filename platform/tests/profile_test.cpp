// Profile (ini) files: the lookup rules, writes that keep every other line,
// hostile input, and writers in several processes at once.
#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/win_error.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

using namespace kalvo::platform;
using kalvo::testing::IsolatedEnvironment;
using kalvo::testing::spawnChild;
using kalvo::testing::TempDir;

namespace {

class Profile : public ::testing::Test {
  protected:
    TempDir dir;
    std::string ini = dir.file("Test.ini");
};

TEST_F(Profile, LookupRules) {
    dir.write("Test.ini",
              "; leading comment\r\n"
              "[Board_1]\r\n"
              "  Kind = Dualmaster  \r\n"
              "kind=Second\r\n"
              "StationAddr_1=\t-7 trailing\r\n"
              "Plus=+12\r\n"
              "Empty=\r\n"
              "Word=abc\r\n"
              "NoEquals\r\n"
              ";Commented=5\r\n"
              "Big=4294967295\r\n"
              "[board_1]\r\n"
              "Extra=1\r\n"
              "[ Spaced ]\n"
              "k=v");
    // Case-insensitive names, first match wins, blanks trimmed.
    EXPECT_EQ(profileGetString(ini, "BOARD_1", "KIND", "d"), "Dualmaster");
    // A second section of the same name is never consulted.
    EXPECT_EQ(profileGetString(ini, "Board_1", "Extra", "none"), "none");
    EXPECT_EQ(profileGetString(ini, "Spaced", "K", "d"), "v");
    EXPECT_EQ(profileGetString(ini, "Board_1", "NoEquals", "d"), "");
    EXPECT_EQ(profileGetString(ini, "Board_1", ";Commented", "d"), "d");
    EXPECT_EQ(profileGetString(ini, "Missing", "Kind", "dflt"), "dflt");

    // Integers: leading decimal number with sign, else the default.
    EXPECT_EQ(profileGetInt(ini, "Board_1", "StationAddr_1", 99), -7);
    EXPECT_EQ(profileGetInt(ini, "Board_1", "Plus", 99), 12);
    EXPECT_EQ(profileGetInt(ini, "Board_1", "Empty", 99), 99);
    EXPECT_EQ(profileGetInt(ini, "Board_1", "Word", 99), 99);
    EXPECT_EQ(profileGetInt(ini, "Board_1", "Absent", -1), -1);
    EXPECT_EQ(profileGetInt(ini, "Board_1", "Big", 0), -1);  // 32-bit wrap

    // A missing file reads as defaults.
    EXPECT_EQ(profileGetInt(dir.file("none.ini"), "A", "B", 4), 4);
    EXPECT_EQ(profileGetString(dir.file("none.ini"), "A", "B", "x"), "x");
}

TEST_F(Profile, ByteOrderMarkFromAnEditorHidesNoSection) {
    dir.write("Test.ini", "\xEF\xBB\xBF[Kalvo]\r\nBoard=2\r\n");
    EXPECT_EQ(profileGetInt(ini, "Kalvo", "Board", 0), 2);
    ASSERT_TRUE(profileWriteString(ini, "Kalvo", "ConfigTool", "1"));
    EXPECT_EQ(dir.read("Test.ini"), "\xEF\xBB\xBF[Kalvo]\r\nBoard=2\r\nConfigTool=1\r\n");
}

TEST_F(Profile, StringReadCutsAtTheCallersSize) {
    dir.write("Test.ini", "[S]\r\nK=abcdef\r\n");
    char buf[8];
    std::memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(profileGetString(ini, "S", "K", "", buf, 4), 3u);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(buf[4], 'Z');  // nothing written past the size
    EXPECT_EQ(profileGetString(ini, "S", "K", "", buf, sizeof buf), 6u);
    EXPECT_STREQ(buf, "abcdef");
    EXPECT_EQ(profileGetString(ini, "S", "none", "defaultText", buf, 5), 4u);
    EXPECT_STREQ(buf, "defa");
    buf[0] = 'Q';
    EXPECT_EQ(profileGetString(ini, "S", "K", "", buf, 0), 0u);
    EXPECT_EQ(buf[0], 'Q');
    EXPECT_EQ(profileGetString(ini, "S", "K", "", buf, 1), 0u);
    EXPECT_EQ(buf[0], '\0');
}

TEST_F(Profile, WritesKeepEveryOtherLineByteForByte) {
    const std::string original =
        "; written by hand\n"
        "[Kalvo]\r\n"
        "ConfigTool = 1\r\n"
        "Board=2\n"
        "\r\n"
        "[Board_1]\n"
        "Kind=Pcimaster64\n"
        "\n"
        "[Tail]\r\n"
        "Last=x";  // no line end at the end of the file
    dir.write("Test.ini", original);

    // In place: only that line changes, and it keeps its own line end.
    ASSERT_TRUE(profileWriteString(ini, "KALVO", "board", "3"));
    std::string expected = original;
    expected.replace(expected.find("Board=2\n"), 8, "Board=3\n");
    EXPECT_EQ(dir.read("Test.ini"), expected);

    // A new key goes after the section's last line, before its blank lines.
    ASSERT_TRUE(profileWriteString(ini, "board_1", "LineMax", "1"));
    expected.insert(expected.find("Kind=Pcimaster64\n") + 17, "LineMax=1\r\n");
    EXPECT_EQ(dir.read("Test.ini"), expected);

    // A new section goes at the end; the last line gets a line end first.
    ASSERT_TRUE(profileWriteString(ini, "New", "K", "v"));
    expected += "\r\n[New]\r\nK=v\r\n";
    EXPECT_EQ(dir.read("Test.ini"), expected);

    // Deleting takes the key's line only.
    ASSERT_TRUE(profileWriteString(ini, "Kalvo", "CONFIGTOOL", std::nullopt));
    expected.erase(expected.find("ConfigTool = 1\r\n"), 16);
    EXPECT_EQ(dir.read("Test.ini"), expected);
    EXPECT_EQ(profileGetInt(ini, "Kalvo", "ConfigTool", -5), -5);

    // Deleting what is not there changes nothing.
    ASSERT_TRUE(profileWriteString(ini, "Nope", "K", std::nullopt));
    EXPECT_EQ(dir.read("Test.ini"), expected);
}

TEST_F(Profile, WriteCreatesTheFileAndKeepsItsMode) {
    ASSERT_TRUE(profileWriteString(ini, "LOG", "FILENO_00", "1"));
    ASSERT_TRUE(profileWriteString(ini, "LOG", "LOGLINE_00", "25"));
    EXPECT_EQ(dir.read("Test.ini"), "[LOG]\r\nFILENO_00=1\r\nLOGLINE_00=25\r\n");

    ASSERT_EQ(chmod(ini.c_str(), 0640), 0);
    ASSERT_TRUE(profileWriteString(ini, "LOG", "FILENO_00", "0"));
    struct stat st {};
    ASSERT_EQ(stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // Deleting from a missing file does not create it.
    EXPECT_TRUE(profileWriteString(dir.file("other.ini"), "S", "K", std::nullopt));
    EXPECT_FALSE(dir.exists("other.ini"));

    // No temporary is left behind.
    EXPECT_EQ(dir.read("Test.ini"), "[LOG]\r\nFILENO_00=0\r\nLOGLINE_00=25\r\n");
}

TEST_F(Profile, WriteThroughASymbolicLinkKeepsTheLink) {
    dir.write("target.ini", "[S]\r\nA=1\r\n");
    ASSERT_EQ(symlink(dir.file("target.ini").c_str(), ini.c_str()), 0);
    ASSERT_TRUE(profileWriteString(ini, "S", "B", "2"));
    struct stat st {};
    ASSERT_EQ(lstat(ini.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(dir.read("target.ini"), "[S]\r\nA=1\r\nB=2\r\n");
}

TEST_F(Profile, WriteFailuresAreReported) {
    setLastError(0);
    EXPECT_FALSE(profileWriteString(dir.file("no/such/dir.ini"), "S", "K", "v"));
    EXPECT_EQ(lastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(profileWriteString(dir.path(), "S", "K", "v"));  // a directory
    EXPECT_NE(lastError(), ERROR_SUCCESS);

    // Text that would not read back as written is refused, not written: a
    // line break in a value would forge another key.
    setLastError(0);
    EXPECT_FALSE(profileWriteString(ini, "S", "K", "1\r\nBoard=9"));
    EXPECT_EQ(lastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(profileWriteString(ini, "S]x", "K", "v"));
    EXPECT_FALSE(profileWriteString(ini, "S", "K=", "v"));
    EXPECT_FALSE(profileWriteString(ini, "S", "[K", "v"));
    EXPECT_FALSE(profileWriteString(ini, "S\n", "K", "v"));
    EXPECT_FALSE(dir.exists("Test.ini"));
}

TEST_F(Profile, HostileFilesNeverCrash) {
    // Binary garbage with NUL bytes and stray brackets.
    std::string garbage;
    uint32_t x = 12345;
    for (int i = 0; i < 200000; ++i) {
        x = x * 1103515245u + 12345u;
        garbage += static_cast<char>(x >> 24);
    }
    garbage += std::string("\0[S]\n\0K=\0v\n[", 13);
    dir.write("Test.ini", garbage);
    EXPECT_EQ(profileGetInt(ini, "S", "K", 3), 3);
    (void)profileGetString(ini, "\xff\x00", "\n", "d");
    ASSERT_TRUE(profileWriteString(ini, "S2", "K", std::string_view("a\0b", 3)));
    EXPECT_EQ(profileGetString(ini, "S2", "K", ""), std::string("a\0b", 3));
    // Everything else is still there, byte for byte.
    std::string after = dir.read("Test.ini");
    ASSERT_GE(after.size(), garbage.size());
    EXPECT_EQ(after.compare(0, garbage.size(), garbage), 0);

    // A 1 MiB line, then a real key.
    dir.write("Test.ini", "[S]\n" + std::string(1 << 20, 'x') + "\nK=5\n");
    EXPECT_EQ(profileGetInt(ini, "S", "K", 0), 5);
    ASSERT_TRUE(profileWriteString(ini, "S", "K", "6"));
    EXPECT_EQ(profileGetInt(ini, "S", "K", 0), 6);

    // Names with separators are only names.
    ASSERT_TRUE(profileWriteString(ini, "a/b\\c", "..\\..\\k/", "v"));
    EXPECT_EQ(profileGetString(ini, "A/B\\C", "..\\..\\K/", ""), "v");

    // A directory, a FIFO: defaults, no hang.
    EXPECT_EQ(profileGetInt(dir.path(), "S", "K", 8), 8);
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_EQ(profileGetInt(dir.file("fifo"), "S", "K", 9), 9);
}

TEST(IniDocument, EditsInMemory) {
    IniDocument doc = IniDocument::parse("[A]\nx=1\n[b]\ny=2\nY=3\n[a]\nz=9\n");
    EXPECT_EQ(doc.sections(), (std::vector<std::string>{"A", "b"}));
    EXPECT_EQ(doc.keys("B"), (std::vector<std::string>{"y"}));
    EXPECT_TRUE(doc.hasSection("a"));
    EXPECT_FALSE(doc.hasSection("c"));
    EXPECT_EQ(doc.get("a", "z"), std::nullopt);

    // Deleting a key removes its duplicates too, so none comes back.
    doc.removeKey("b", "y");
    EXPECT_EQ(doc.get("b", "y"), std::nullopt);
    // Deleting a section removes every section of that name.
    doc.removeSection("a");
    EXPECT_FALSE(doc.hasSection("A"));
    EXPECT_EQ(doc.serialize(), "[b]\n");

    IniDocument empty;
    EXPECT_TRUE(empty.set("KALVO", "ConfigTool", "1"));
    EXPECT_TRUE(empty.set("BOARD_1", "Kind", "Cardmaster"));
    EXPECT_TRUE(empty.set("KALVO", "Board", "1"));
    EXPECT_FALSE(empty.set("KALVO", "Board", "1\n[X]"));
    EXPECT_EQ(empty.serialize(),
              "[KALVO]\r\nConfigTool=1\r\nBoard=1\r\n[BOARD_1]\r\nKind=Cardmaster\r\n");
}

// The section index follows every edit: after inserts in an earlier section,
// removals and appended sections, each read agrees with a fresh parse of the
// written text (first section and first key win, names fold case).
TEST(IniDocument, ReadsAfterEditsAgreeWithAFreshParse) {
    IniDocument doc = IniDocument::parse("\xEF\xBB\xBF[A]\nx=1\n\n[B]\ny=2\n[a]\nx=8\n[C]\nw=0");
    EXPECT_TRUE(doc.set("a", "new", "1"));  // inserted before [B]: later headers move
    EXPECT_TRUE(doc.set("b", "more", "2"));
    EXPECT_TRUE(doc.set("D", "d", "4"));  // appended section
    EXPECT_TRUE(doc.set("d", "e", "5"));
    EXPECT_TRUE(doc.set("c", "v", "6"));
    doc.removeKey("A", "x");
    EXPECT_TRUE(doc.set("A", "x", "7"));
    doc.removeSection("B");
    EXPECT_TRUE(doc.set("b", "back", "9"));
    IniDocument fresh = IniDocument::parse(doc.serialize());
    const char* const probes[][2] = {{"A", "x"},    {"a", "new"}, {"B", "y"}, {"b", "back"},
                                     {"C", "w"},    {"c", "v"},   {"D", "d"}, {"d", "e"},
                                     {"a", "more"}, {"E", "x"}};
    for (const auto& probe : probes) {
        SCOPED_TRACE(std::string(probe[0]) + "/" + probe[1]);
        EXPECT_EQ(doc.get(probe[0], probe[1]), fresh.get(probe[0], probe[1]));
        EXPECT_EQ(doc.keys(probe[0]), fresh.keys(probe[0]));
    }
    EXPECT_EQ(doc.get("A", "x"), "7");
    EXPECT_EQ(doc.get("d", "e"), "5");
    EXPECT_EQ(doc.sections(), fresh.sections());
    EXPECT_EQ(doc.sections(), (std::vector<std::string>{"A", "C", "D", "b"}));
}

TEST(FullPathName, ResolvesLexicallyAgainstTheCurrentDirectory) {
    IsolatedEnvironment env;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    const std::string here = cwd;
    EXPECT_EQ(fullPathName("Kalvo.ini"), here + "/Kalvo.ini");
    EXPECT_EQ(fullPathName(".\\sub\\..\\Kalvo.ini"), here + "/Kalvo.ini");
    EXPECT_EQ(fullPathName("/a/b/../c//d/./e"), "/a/c/d/e");
    EXPECT_EQ(fullPathName("/../../x"), "/x");
    EXPECT_EQ(fullPathName("dir\\"), here + "/dir/");

    // 259 bytes is the longest result.
    std::string longest = "/" + std::string(258, 'n');
    EXPECT_EQ(fullPathName(longest), longest);
    setLastError(0);
    EXPECT_EQ(fullPathName(longest + "n"), "");
    EXPECT_EQ(lastError(), ERROR_FILENAME_EXCED_RANGE);
    // But a long name that resolves short is fine.
    EXPECT_EQ(fullPathName("/" + std::string(300, 'n') + "/../x"), "/x");

    EXPECT_EQ(fullPathName(""), "");
    EXPECT_EQ(fullPathName(std::string_view("a\0b", 3)), "");
}

// Each child writes its own keys, one write at a time, into the same file.
KALVO_CHILD(profile_writer) {
    const std::string& file = args.at(0);
    const std::string& who = args.at(1);
    int count = std::stoi(args.at(2));
    for (int i = 0; i < count; ++i) {
        std::string section = "Section_" + std::to_string(i % 3);
        if (!profileWriteString(file, section, who + "_" + std::to_string(i), std::to_string(i))) {
            return 2;
        }
    }
    return 0;
}

TEST_F(Profile, ConcurrentWritersInFourProcessesLoseNothing) {
    constexpr int kPerWriter = 40;
    dir.write("Test.ini", "; shared\r\n[Section_0]\r\nKeep=1\r\n");
    std::vector<kalvo::testing::ChildProcess> children;
    for (int w = 0; w < 4; ++w) {
        children.push_back(spawnChild(
            "profile_writer", {ini, "writer" + std::to_string(w), std::to_string(kPerWriter)}));
    }
    for (auto& c : children) EXPECT_EQ(c.wait(), 0);
    for (int w = 0; w < 4; ++w) {
        for (int i = 0; i < kPerWriter; ++i) {
            std::string section = "Section_" + std::to_string(i % 3);
            EXPECT_EQ(profileGetInt(ini, section,
                                    "writer" + std::to_string(w) + "_" + std::to_string(i), -1),
                      i);
        }
    }
    EXPECT_EQ(profileGetInt(ini, "Section_0", "Keep", 0), 1);
    EXPECT_EQ(dir.read("Test.ini").rfind("; shared\r\n", 0), 0u);
}

// Threads of one process must exclude each other as processes do (a lock
// held per process, such as a record lock, would let them interleave).
TEST_F(Profile, ConcurrentWritersInFourThreadsLoseNothing) {
    constexpr int kPerWriter = 25;
    std::vector<std::thread> threads;
    for (int w = 0; w < 4; ++w) {
        threads.emplace_back([this, w] {
            for (int i = 0; i < kPerWriter; ++i) {
                profileWriteString(ini, "T", "t" + std::to_string(w) + "_" + std::to_string(i),
                                   std::to_string(i));
            }
        });
    }
    for (auto& t : threads) t.join();
    IniDocument doc = IniDocument::parse(dir.read("Test.ini"));
    EXPECT_EQ(doc.keys("T").size(), 4u * kPerWriter);
}

}  // namespace
