// The tool and the libraries meet only through files, in separate processes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "api/configfiles/board_library_ini.h"
#include "api/configfiles/kalvo_ini_class.h"
#include "api/configfiles/kalvo_ini_reader.h"
#include "platform/profile.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tool/model/configuration_save.h"

namespace kalvo::tool {
using namespace kalvo::configfiles;
namespace {

// An application started in the project folder: exit code 0 when it reads
// the configuration that SavedConfigurationIsReadByAnApplication saved.
KALVO_CHILD(readConfiguration) {
    if (args.size() != 1 || ::chdir(args[0].c_str()) != 0) return 100;
    const std::string kalvo = kalvoIniFileName();
    if (readBoardCount(kalvo) != 2) return 1;
    KalvoBoardSection b2 = readBoardSection(kalvo, 2);
    if (b2.kind != "Cardmaster" || b2.stationAddr[0] != 0 || b2.stationSize[0] != 32) return 2;
    KalvoUnitSection unit = readUnitSection(kalvo, "DIO", 4);
    if (unit.board != 2 || unit.line != 1 || unit.base != 9 || unit.offsets.count != 2 ||
        unit.offsets.offsets[1] != 5) {
        return 3;
    }
    if (readBoardBaudCode(boardLibraryIniFileName("Cardmaster"), 0) != 12) return 4;
    return 0;
}

TEST(ConfigurationProcesses, SavedConfigurationIsReadByAnApplication) {
    kalvo::testing::TempDir dir;
    ConfigurationSaveInput in;
    in.Boards[0] = {1, "Dualmaster", 0, {3, -1}, {1, -1}};
    in.Boards[2] = {2, "Cardmaster", 1, {12, -1}, {0, -1}};
    in.Units = {{"DIO_4", {2, 1, 9, "4,5", ""}}};
    ASSERT_TRUE(saveConfiguration(dir.path(), in).ok());

    EXPECT_EQ(kalvo::testing::spawnChild("readConfiguration", {dir.path()}).wait(), 0);
}

constexpr int kForeignKeys = 300;

// Another program writing its own keys into the board library ini.
KALVO_CHILD(writeForeignKeys) {
    if (args.size() != 1) return 100;
    for (int i = 0; i < kForeignKeys; ++i) {
        if (!kalvo::platform::profileWriteString(args[0], "Foreign", "K" + std::to_string(i),
                                                 std::to_string(i))) {
            return 1;
        }
    }
    return 0;
}

// The save merges the board library ini under the same lock as every other
// profile writer, so keys written meanwhile by another process survive.
TEST(ConfigurationProcesses, MergingTheLibraryIniLosesNoConcurrentKeys) {
    kalvo::testing::TempDir dir;
    ConfigurationSaveInput in;
    in.Boards[0] = {1, "Cardmaster", 1, {6, -1}, {1, -1}};

    kalvo::testing::ChildProcess writer =
        kalvo::testing::spawnChild("writeForeignKeys", {dir.file("Cardmaster.ini")});
    while (writer.running()) ASSERT_TRUE(saveConfiguration(dir.path(), in).ok());
    ASSERT_EQ(writer.wait(), 0);
    ASSERT_TRUE(saveConfiguration(dir.path(), in).ok());

    TKalvoIniClass card(dir.file("Cardmaster.ini"));
    for (int i = 0; i < kForeignKeys; ++i) {
        EXPECT_EQ(card.readInteger("Foreign", "K" + std::to_string(i), -1), i);
    }
    EXPECT_EQ(card.readInteger("BOARD_0", "Baudrate_0", -1), 6);
}

}  // namespace
}  // namespace kalvo::tool
