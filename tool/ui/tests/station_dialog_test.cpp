// The station settings dialog opened by a right click on a placed station:
// module combos, row layout, live writes with renumbering, OK and Cancel.
#include <gtest/gtest.h>

#include <QFile>
#include <QPushButton>

#include "tool/ui/bx_string_grid.h"
#include "tool/ui/station_dialog.h"
#include "tool/ui/tests/ui_test_support.h"

namespace kalvo::tool::ui {
namespace {

// A model table with an 8-row analogue model, the shared input and output
// pair, the module that ends a station and the axis models.
QString writeModelTable(const QTemporaryDir& dir) {
    const char* text =
        "[Config]\nUnitCount=7\n"
        "[Model_0]\nModel=QMDIO16\nType=DIO\nCode=17\nId=1\nCh=1\nSeries=QMS\n"
        "[Model_1]\nModel=QMADA08\nType=ADA\nCode=38\nId=2\nCh=4\nSeries=QMS\n"
        "[Model_2]\nModel=QMSA40*\nType=ADA\nCode=34\nId=1\nCh=4\nSeries=QMS\n"
        "[Model_3]\nModel=QMSA04*\nType=ADA\nCode=35\nId=1\nCh=4\nSeries=QMS\n"
        "[Model_4]\nModel=QMSA40* + QMSA04*\nType=ADA\nCode=36\nId=1\nCh=4\nSeries=QMS\n"
        "[Model_5]\nModel=QMSC20*\nType=DIO\nCode=37\nId=1\nCh=2\nSeries=QMS\n"
        "[Model_6]\nModel=MRUM04*\nType=AXSA\nCode=40\nId=3\nCh=4\nSeries=MRU\n";
    const QString path = dir.filePath(QStringLiteral("ModelTbl.ini"));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(text);
    return path;
}

struct Choice {
    const char* name;
    std::vector<const char*> modules;  // combo texts in order
    std::vector<const char*> rowNames;
    int addrCount;
    std::vector<bool> enabled;  // combos 1-4 afterwards
    int messages;
};

TEST(StationDialog, ModuleChoicesLayOutTheRows) {
    const Choice cases[] = {
        {"four DIO",
         {"QMDIO16", "QMDIO16", "QMDIO16", "QMDIO16"},
         {"DIO", "DIO", "DIO", "DIO", ""},
         1,
         {true, true, true, true},
         0},
        {"input and output share rows",
         {"QMSA40*", "QMSA04*"},
         {"ADA", "ADA", "ADA", "ADA", ""},
         1,
         {true, true, true, false},
         0},
        {"past 16 rows",
         {"QMADA08", "QMADA08", "QMDIO16"},
         {"ADA", "ADA", "ADA", "ADA", "ADA", "ADA", "ADA", "ADA", "ADA", "ADA", "ADA", "ADA", "ADA",
          "ADA", "ADA", "ADA"},
         4,
         {true, true, true, false},
         1},
        {"QMSC20* ends the list",
         {"QMSC20*"},
         {"DIO", "DIO", ""},
         1,
         {true, false, false, false},
         0},
    };
    for (const Choice& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir tables;
        testing::Feedback feedback;
        testing::NewTool tool({1}, writeModelTable(tables));
        tool.place(0, kStaMst);
        testing::whenModal<StationDialog>([&](StationDialog* d) {
            for (size_t n = 0; n < c.modules.size(); ++n)
                d->combo(int(n) + 1)->setCurrentText(QString::fromUtf8(c.modules[n]));
            // 1128 to the editor, then its 1129 back: two turns of the queue.
            EXPECT_EQ(d->grid()->cell(1, 2), QString());
            QApplication::processEvents();
            QApplication::processEvents();
            for (size_t r = 0; r < c.rowNames.size(); ++r)
                EXPECT_EQ(d->grid()->cell(int(r) + 1, 1), QString::fromUtf8(c.rowNames[r]))
                    << "row " << r;
            for (int n = 1; n <= kModules; ++n)
                EXPECT_EQ(d->combo(n)->isEnabled(), c.enabled[size_t(n - 1)]) << "combo " << n;
            EXPECT_EQ(d->addressCount(), c.addrCount);
            // The editor renumbered the live write: the first unit is number 1.
            EXPECT_EQ(d->grid()->cell(1, 2), QStringLiteral("1"));
            d->reject();
        });
        QTest::mouseClick(tool.editor()->place(0, 0), Qt::RightButton, {}, QPoint(8, 8));
        EXPECT_EQ(int(feedback.Messages.size()), c.messages);
        if (c.messages) {
            EXPECT_EQ(feedback.Messages[0].Text,
                      QStringLiteral("IDの設定が範囲を超えてしまいます!!"));
        }
        // Cancel: the live writes are undone.
        EXPECT_EQ(tool.session.model.at(0, 0, 0).Slot[0].Unit, 0);
    }
}

TEST(StationDialog, SharedRowsShowTheOutputModel) {
    QTemporaryDir tables;
    testing::Feedback feedback;
    testing::NewTool tool({1}, writeModelTable(tables));
    tool.place(0, kStaMst);
    testing::whenModal<StationDialog>([&](StationDialog* d) {
        d->combo(1)->setCurrentText(QStringLiteral("QMSA40*"));
        d->combo(2)->setCurrentText(QStringLiteral("QMSA04*"));
        QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("btnOk")), Qt::LeftButton);
    });
    QTest::mouseClick(tool.editor()->place(0, 0), Qt::RightButton, {}, QPoint(8, 8));
    const TStaAddRec& st = tool.session.model.at(0, 0, 0);
    EXPECT_EQ(st.AddrCount, 1);
    for (int r = 0; r < 4; ++r) {
        EXPECT_EQ(st.Slot[size_t(r)].Info.ModelCode, "QMSA04*") << r;
        EXPECT_EQ(st.Slot[size_t(r)].Info2.ModelCode, kSharedLabel) << r;
    }
    EXPECT_EQ(st.Slot[4].Unit, 0);
}

TEST(StationDialog, OkThatWouldOverlapTheNextStationRestoresTheNetwork) {
    QTemporaryDir tables;
    testing::Feedback feedback;
    testing::NewTool tool({1}, writeModelTable(tables));
    tool.place(0, kStaMst);
    tool.place(1, kStaMst);
    const Network before = tool.session.model.network();
    testing::whenModal<StationDialog>([&](StationDialog* d) {
        d->combo(1)->setCurrentText(QStringLiteral("QMADA08"));
        QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("btnOk")), Qt::LeftButton);
    });
    QTest::mouseClick(tool.editor()->place(0, 0), Qt::RightButton, {}, QPoint(8, 8));
    EXPECT_EQ(feedback.Beeps, 1);
    ASSERT_EQ(feedback.Messages.size(), 1u);
    EXPECT_EQ(feedback.Messages[0].Text, QStringLiteral("IDが重複してしまいます!!"));
    for (int a = 0; a < kAddresses; ++a) {
        EXPECT_EQ(tool.session.model.at(0, 0, a).StaType, before[0][0][size_t(a)].StaType);
        EXPECT_EQ(tool.session.model.at(0, 0, a).Module, before[0][0][size_t(a)].Module);
        EXPECT_EQ(tool.session.model.at(0, 0, a).Slot[0].Unit, 0);
    }
    EXPECT_EQ(tool.editor()->place(0, 0)->staType(), kStaMst);
    EXPECT_EQ(tool.editor()->place(0, 1)->staType(), kStaMst);
}

TEST(StationDialog, AxisStationShowsItsFixedModules) {
    QTemporaryDir tables;
    testing::Feedback feedback;
    testing::NewTool tool({1}, writeModelTable(tables));
    tool.place(8, kStaAxs4);
    testing::whenModal<StationDialog>([&](StationDialog* d) {
        for (int n = 1; n <= kModules; ++n) {
            EXPECT_FALSE(d->combo(n)->isEnabled()) << n;
            EXPECT_EQ(d->combo(n)->currentText(), QStringLiteral("MRUM04*")) << n;
        }
        QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("btnOk")), Qt::LeftButton);
    });
    QTest::mouseClick(tool.editor()->place(0, 8), Qt::RightButton, {}, QPoint(8, 8));
    EXPECT_EQ(tool.session.model.at(0, 0, 8).AddrCount, 4);
    EXPECT_FALSE(tool.session.model.at(0, 0, 11).Head);
    EXPECT_TRUE(feedback.Messages.empty());
}

TEST(StationDialog, GridIntegerColumnsNormalizeEdits) {
    BxStringGrid grid;
    grid.setRowCount(2);
    grid.column(0).DataType = TInputDataType::dtInteger;
    grid.column(1).CanEdit = false;
    grid.column(2).DisplayMask = QStringLiteral("0.00");
    grid.column(3).setCaption(QString());
    EXPECT_EQ(grid.column(3).Caption, QStringLiteral(" "));
    const struct {
        const char* typed;
        bool taken;
        const char* stored;
    } rows[] = {{"007", true, "7"}, {"-", true, "-0"}, {"+12", true, "12"}, {"1.5", false, "12"}};
    for (const auto& r : rows) {
        EXPECT_EQ(grid.setEditedText(1, 0, QString::fromLatin1(r.typed)), r.taken) << r.typed;
        EXPECT_EQ(grid.cell(1, 0), QString::fromLatin1(r.stored)) << r.typed;
    }
    EXPECT_FALSE(grid.setEditedText(1, 1, QStringLiteral("x")));
    grid.setCell(1, 2, QStringLiteral("3"));
    EXPECT_EQ(grid.displayText(1, 2), QStringLiteral("3.00"));
    EXPECT_TRUE(BxStringGrid::integerKeyAccepted('5'));
    EXPECT_FALSE(BxStringGrid::integerKeyAccepted('a'));
}

}  // namespace
}  // namespace kalvo::tool::ui
