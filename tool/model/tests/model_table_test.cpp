#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tool/model/network_model.h"
#include "tool/model/tests/model_test_support.h"

namespace kalvo::tool::test {
namespace {

std::string section(int i, const std::string& model, const std::string& type, int code, int id,
                    int ch, const std::string& series = "QMS") {
    return "[Model_" + std::to_string(i) + "]\nModel=" + model + "\nType=" + type +
           "\nCode=" + std::to_string(code) + "\nId=" + std::to_string(id) +
           "\nCh=" + std::to_string(ch) + "\nSeries=" + series + "\n";
}

TEST(ModelTable, EmptyTableKeepsEntryZeroAndOnePlaceholderPerType) {
    ModelTable t = tableFromText("[Config]\nUnitCount=0\n" + section(0, "QMDIO16", "DIO", 1, 1, 1));
    ASSERT_EQ(t.list().size(), 1u);
    EXPECT_EQ(t.list()[0].Name, "NEW");
    EXPECT_EQ(t.list()[0].ModelCode, kUnusedText);
    for (const auto& l : t.typeLists()) {
        ASSERT_EQ(l.size(), 1u);
        EXPECT_EQ(l[0].Type, "NON");
    }
    for (int k = kSpecialAxs2; k <= kSpecialRfid3; ++k) EXPECT_EQ(t.special(k), -1);
}

TEST(ModelTable, SpecialModelsAreTheFirstOfTheirKind) {
    ModelTable t =
        tableFromText("[Config]\nUnitCount=6\n" + section(0, "MRUM02*", "AXSA", 39, 1, 4, "MRU") +
                      section(1, "MRUM02*", "AXSA", 38, 2, 4, "MRU") +
                      section(2, "KVZC220", "RFID", 50, 1, 4, "KVZ") +
                      section(3, "KVZC220", "RFID", 51, 2, 4, "KVZ") +
                      section(4, "KVZC220", "RFID", 52, 3, 4, "KVZ") +
                      section(5, "MRUM04*", "AXSA", 40, 3, 4, "MRU"));
    ASSERT_EQ(t.list().size(), 7u);
    EXPECT_EQ(t.special(kSpecialAxs2), 1);
    EXPECT_EQ(t.list()[1].SlotCount, 8);     // (Id + 1) x Ch
    EXPECT_EQ(t.list()[1].RowCount, 2);      // Id + 1
    EXPECT_EQ(t.list()[2].SlotCount, 8);     // the second MRUM02* is an ordinary model
    EXPECT_EQ(t.special(kSpecialRfid2), 4);  // KVZC220 with Id 1 is no special model
    EXPECT_EQ(t.list()[4].RowCount, 4);
    EXPECT_EQ(t.special(kSpecialRfid3), 5);
    EXPECT_EQ(t.list()[5].RowCount, 6);
    EXPECT_EQ(t.special(kSpecialAxs4), 6);
    EXPECT_EQ(t.list()[6].SlotCount, 16);
    EXPECT_EQ(t.list()[6].ModelIndex, 2);
}

TEST(ModelTable, SkipsSectionsOfUnknownTypeOrSeriesAndSaysWhy) {
    ModelTable t = tableFromText("[Config]\nUnitCount=4\n" + section(0, "A", "dio", 1, 1, 1) +
                                 section(1, "B", "DIO", 2, 1, 1, "XYZ") +
                                 section(2, "C", "DIO", 3, 1, 1) + section(3, "D", "SIO", 4, 1, 4));
    ASSERT_EQ(t.list().size(), 3u);
    EXPECT_EQ(t.list()[1].ModelCode, "C");
    ASSERT_EQ(t.problems().size(), 2u);
    EXPECT_NE(t.problems()[0].find("[Model_0]: Type \"dio\""), std::string::npos);
    EXPECT_NE(t.problems()[1].find("[Model_1]: Series \"XYZ\""), std::string::npos);
    EXPECT_EQ(t.lookup("C", "3"), 1);
    EXPECT_EQ(t.lookup("C", " 3 "), 1);
    EXPECT_EQ(t.lookup("C", "4"), -1);
    EXPECT_EQ(t.lookup("C", "3x"), -1);
    EXPECT_EQ(t.lookup(kUnusedText, "0"), 0);
}

TEST(ModelTable, MissingTableStillHasEntryZeroAndTemplatesWithoutModules) {
    kalvo::testing::TempDir dir;
    ModelTable t;
    EXPECT_EQ(t.load(dir.file("ModelTbl.ini")), ModelTable::Source::missing);
    ASSERT_EQ(t.list().size(), 1u);
    ASSERT_EQ(t.problems().size(), 1u);
    EXPECT_NE(t.problems()[0].find("was not found"), std::string::npos);
    ConfigModel m(t);
    EXPECT_TRUE(m.templateAvailable(kStaMst));
    for (int type : {kStaAxs2, kStaAxs4, kStaRfid2, kStaRfid3}) {
        EXPECT_FALSE(m.templateAvailable(type));
        for (int32_t module : m.stationTemplate(type).Module) EXPECT_EQ(module, 0);
    }
}

TEST(ModelTable, TemplatesTakeTheSpecialModelsAndAnAxs4SpansFourAddresses) {
    const ModelTable& t = exampleModels();
    ConfigModel m(t);
    const TStaAddRec& axs4 = m.stationTemplate(kStaAxs4);
    EXPECT_EQ(axs4.AddrCount, 4);
    for (int32_t module : axs4.Module) EXPECT_EQ(module, t.special(kSpecialAxs4));
    const TStaAddRec& rfid3 = m.stationTemplate(kStaRfid3);
    EXPECT_EQ(rfid3.Module[2], t.special(kSpecialRfid3));
    EXPECT_EQ(rfid3.Module[3], 0);
    EXPECT_EQ(rfid3.Slot[12].Unit, 0);
    EXPECT_EQ(rfid3.Slot[11].Unit, t.special(kSpecialRfid3));
    EXPECT_EQ(m.at(0, 0, 7).StaAddr, 7);
    EXPECT_TRUE(m.at(0, 0, 7).Head);
}

}  // namespace
}  // namespace kalvo::tool::test

namespace kalvo::tool::test {
namespace {

// The folder's own table first, else the installed one; either way the
// description says which file is used, or where it was looked for.
TEST(ModelTableLocation, TheFolderFirstThenTheInstalledOne) {
    kalvo::testing::TempDir folder, installed;
    const std::string fallback = installed.file("ModelTbl.ini");
    ModelTableLocation where = locateModelTable(folder.path(), fallback);
    EXPECT_FALSE(where.FromFolder);
    EXPECT_EQ(where.Path, fallback);
    EXPECT_NE(describeModelTable(where, ModelTable::Source::missing).find(fallback),
              std::string::npos);
    folder.write("ModelTbl.ini", "[Config]\nUnitCount=0\n");
    where = locateModelTable(folder.path() + "/", fallback);
    EXPECT_TRUE(where.FromFolder);
    EXPECT_EQ(where.Path, folder.file("ModelTbl.ini"));
    EXPECT_NE(describeModelTable(where, ModelTable::Source::loaded).find("folder's own"),
              std::string::npos);
    // The installed one by default: <program folder>/../share/kalvo.
    EXPECT_NE(locateModelTable("").Path.find("share/kalvo/ModelTbl.ini"), std::string::npos);
}

TEST(ModelTableMatch, ByModelCodeCodeNumberOrPlainName) {
    const ModelTable& t = exampleModels();
    const struct {
        const char* text;
        std::vector<std::string> codes;
    } cases[] = {
        {"QMDIO16", {"QMDIO16"}},
        {"17", {"QMDIO16"}},
        {"33", {"QMADA04"}},
        {"4-channel analogue I/O", {"QMADA04"}},
        {"4-CHANNEL ANALOGUE I/O", {"QMADA04"}},
        {"KVZC220", {"KVZC220"}},
        {"999", {}},
        {"no such model", {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> found;
        for (int32_t e : t.match(c.text)) found.push_back(t.entry(e).ModelCode);
        EXPECT_EQ(found, c.codes) << c.text;
    }
    ModelTable twins = tableFromText(
        "[Config]\nUnitCount=2\n[Model_0]\nModel=A1\nName=relay\nType="
        "DIO\nCode=5\nSeries=QMS\n[Model_1]\nModel=A2\nName=Relay\n"
        "Type=DIO\nCode=5\nSeries=QMS\n");
    EXPECT_EQ(twins.match("5").size(), 2u);
    EXPECT_EQ(twins.match("relay").size(), 2u);
}

}  // namespace
}  // namespace kalvo::tool::test
