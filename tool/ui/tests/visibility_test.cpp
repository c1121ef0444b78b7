// What the user sees of what they did: the model table in use, why a drop
// was refused, each station's modules and units, the save's progress and
// time, captions that fit, and a palette beside the editor.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>

#include "tool/ui/line_frame.h"
#include "tool/ui/station_dialog.h"
#include "tool/ui/tests/ui_test_support.h"

namespace kalvo::tool::ui {
namespace {

using testing::Feedback;
using testing::whenModal;

QString statusOf(NetworkEditor* e) {
    return e->statusBar()->currentMessage();
}

TEST(ModelTable, TheOneInUseIsShownAndAMissingOneIsSaid) {
    Feedback feedback;
    QTemporaryDir nowhere, own;
    {
        ToolSession session;
        MainForm main(session, nowhere.filePath(QStringLiteral("ModelTbl.ini")));
        ASSERT_EQ(feedback.Messages.size(), 1u);
        EXPECT_TRUE(
            feedback.Messages[0].Text.contains(nowhere.filePath(QStringLiteral("ModelTbl.ini"))))
            << feedback.Messages[0].Text.toStdString();
    }
    // A folder with its own table: New uses it, and the status bar says so.
    QFile table(own.filePath(QStringLiteral("ModelTbl.ini")));
    ASSERT_TRUE(table.open(QIODevice::WriteOnly));
    table.write(
        "[Config]\nUnitCount=1\n[Model_0]\nModel=QMOWN01\nName=own relay\nType=DIO\n"
        "Code=9\nId=1\nCh=1\nSeries=QMS\n");
    table.close();
    ToolSession session;
    MainForm main(session, QStringLiteral(KALVO_EXAMPLE_MODEL_TABLE));
    auto* label = main.findChild<QLabel*>(QStringLiteral("ModelTableLabel"));
    EXPECT_TRUE(label->text().endsWith(QStringLiteral(KALVO_EXAMPLE_MODEL_TABLE)));
    whenModal<BoardSetUpDialog>([&](BoardSetUpDialog* d) {
        d->setDirectory(own.path());
        d->next();
        d->rows().board[0]->setCurrentIndex(1);
        d->confirm();
    });
    main.fileNew();
    ASSERT_NE(main.editor(), nullptr);
    EXPECT_TRUE(label->text().endsWith(own.filePath(QStringLiteral("ModelTbl.ini"))));
    EXPECT_TRUE(label->toolTip().contains(QStringLiteral("folder's own")));
    EXPECT_EQ(session.models.findModel("QMOWN01"), 1);
    session.closingByProgram = true;
    main.editor()->close();
    QApplication::processEvents();
}

TEST(ARefusedDrop, SaysWhyInTheStatusBar) {
    Feedback feedback;
    testing::NewTool tool;
    tool.place(4, kStaAxs4);
    const struct {
        int type, at;
        const char* says;
    } cases[] = {
        {kStaAxs4, 29,
         "address 29: an AXS4 station needs 4 free addresses (29 to 32), and the "
         "line ends at 31"},
        {kStaMst, 6, "address 6: a continuation address of the AXS4 station at 4"},
        {kStaAxs2, 3,
         "address 3: an AXS2 station needs 2 free addresses (3 to 4), and address 4 "
         "holds the AXS4 station there"},
    };
    for (const auto& c : cases) {
        tool.place(c.at, c.type);
        EXPECT_TRUE(statusOf(tool.editor()).startsWith(QString::fromUtf8(c.says)))
            << statusOf(tool.editor()).toStdString();
    }
    EXPECT_EQ(feedback.Beeps, 3);
}

// Two MST stations look different: each shows its modules, and its tooltip
// says its addresses, modules with their names and units with their IDs.
TEST(StationPlaces, ShowTheirModulesAndUnits) {
    Feedback feedback;
    testing::NewTool tool;
    tool.place(0, kStaMst);
    whenModal<StationDialog>([](StationDialog* d) {
        // The list shows each model's plain name beside its code.
        auto* list = d->combo(1)->model();
        bool named = false;
        for (int r = 0; r < list->rowCount(); ++r)
            named = named ||
                    (list->index(r, 0).data().toString() == QStringLiteral("QMDIO32") &&
                     list->index(r, 1).data().toString() == QStringLiteral("32-point digital I/O"));
        EXPECT_TRUE(named);
        d->combo(1)->setCurrentText(QStringLiteral("QMDIO32"));
        d->combo(2)->setCurrentText(QStringLiteral("QMADA04"));
        QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("btnOk")), Qt::LeftButton);
    });
    QTest::mouseClick(tool.editor()->place(0, 0), Qt::RightButton, {}, QPoint(8, 8));
    tool.place(9, kStaMst);
    StationPicture* head = tool.editor()->place(0, 0);
    EXPECT_EQ(head->modules(), (QStringList{"QMDIO32", "QMADA04"}));
    EXPECT_TRUE(tool.editor()->place(0, 9)->modules().isEmpty());
    const QString tip = head->toolTip();
    for (const char* part : {"MST 0: addresses 0-1", "module 1: QMDIO32 (32-point digital I/O)",
                             "module 2: QMADA04 (4-channel analogue I/O)", "DIO_1  QMDIO32",
                             "ADA_1  QMADA04  logical IDs 2,3,4,5"})
        EXPECT_TRUE(tip.contains(QString::fromUtf8(part))) << part << "\n" << tip.toStdString();
    EXPECT_TRUE(
        tool.editor()->place(0, 1)->toolTip().contains(QStringLiteral("continuation address 1")));
    EXPECT_TRUE(tool.editor()->place(0, 2)->toolTip().startsWith(QStringLiteral("2:")));
    // The pictures differ where the modules do.
    EXPECT_NE(head->grab().toImage(), tool.editor()->place(0, 9)->grab().toImage());
}

TEST(ASave, ShowsItsProgressThenZeroAndSaysWhen) {
    Feedback feedback;
    testing::NewTool tool({1, 3});
    tool.place(0, kStaAxs4);
    QList<int> seen;
    QProgressBar* bar = tool.editor()->progressBar();
    QObject::connect(bar, &QProgressBar::valueChanged, [&](int v) { seen << v; });
    tool.main.fileSave();
    EXPECT_EQ(bar->maximum(), 2 * kAddresses);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_TRUE(seen.contains(2 * kAddresses)) << seen.size();
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^保存しました \\(saved\\) \\d\\d:\\d\\d:\\d\\d$"))
            .match(statusOf(tool.editor()))
            .hasMatch())
        << statusOf(tool.editor()).toStdString();
}

// OK in the dialog of a station with fixed modules leaves it as it is (it
// once shrank an AXS2 station to one address, its second free for another).
TEST(AFixedStationsDialog, OkKeepsTheStationWhole) {
    Feedback feedback;
    testing::NewTool tool;
    tool.place(6, kStaAxs2);
    const TStaAddRec before = tool.session.model.at(0, 0, 6);
    whenModal<StationDialog>([](StationDialog* d) {
        QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("btnOk")), Qt::LeftButton);
    });
    QTest::mouseClick(tool.editor()->place(0, 6), Qt::RightButton, {}, QPoint(8, 8));
    EXPECT_FALSE(tool.session.model.at(0, 0, 7).Head);
    EXPECT_EQ(tool.session.model.at(0, 0, 7).StaType, kStaAxs2);
    EXPECT_EQ(tool.session.model.at(0, 0, 6).AddrCount, before.AddrCount);
    EXPECT_EQ(tool.session.model.at(0, 0, 6).Slot[7].Unit, before.Slot[7].Unit);
    tool.place(7, kStaMst);  // the second address stays the station's
    EXPECT_EQ(tool.session.model.at(0, 0, 7).StaType, kStaAxs2);
}

// Every caption of every window is wholly visible at the window's own size.
TEST(Captions, FitTheirWidgetsAtTheDefaultSize) {
    Feedback feedback;
    testing::NewTool tool({1, 3});
    tool.place(0, kStaMst);
    auto check = [](QWidget* window) {
        for (QWidget* w : window->findChildren<QWidget*>()) {
            QString text;
            int room = 0;
            if (auto* l = qobject_cast<QLabel*>(w); l && !l->text().isEmpty() && !l->wordWrap()) {
                text = l->text();
                room = l->contentsRect().width() - 2 * l->margin() - l->indent();
            } else if (auto* b = qobject_cast<QAbstractButton*>(w); b && !b->text().isEmpty()) {
                if (b->sizeHint().width() > b->width())
                    ADD_FAILURE() << window->objectName().toStdString() << ": "
                                  << b->text().toStdString() << " needs " << b->sizeHint().width()
                                  << ", has " << b->width();
                continue;
            } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
                text = g->title();
                room = g->width() - 16;
            } else {
                continue;
            }
            text.remove(QLatin1Char('&'));
            const int needed = w->fontMetrics().horizontalAdvance(text);
            EXPECT_LE(needed, room)
                << window->objectName().toStdString() << ": " << text.toStdString();
        }
    };
    check(tool.main.boardSetUp());
    check(tool.main.hardSet());
    check(tool.main.palette());
    check(tool.editor());
    whenModal<StationDialog>([&](StationDialog* d) {
        check(d);
        d->reject();
    });
    QTest::mouseClick(tool.editor()->place(0, 0), Qt::RightButton, {}, QPoint(8, 8));
}

TEST(Palette, GoesBesideTheEditorNotOverIt) {
    const QRect screen(0, 0, 1280, 900);
    const QSize palette(255, 180);
    const struct {
        QRect editor;
        QPoint at;
    } cases[] = {
        {QRect(0, 60, 807, 500), QPoint(814, 60)},     // to its right
        {QRect(400, 60, 807, 500), QPoint(400, 567)},  // no room right: below
        {QRect(0, 60, 1280, 840), QPoint(1025, 720)},  // no room at all: a corner
    };
    for (const auto& c : cases) {
        EXPECT_EQ(paletteSpot(screen, c.editor, palette), c.at);
        if (c.at != QPoint(1025, 720)) {
            EXPECT_FALSE(QRect(c.at, palette).intersects(c.editor));
        }
    }
}

}  // namespace
}  // namespace kalvo::tool::ui
