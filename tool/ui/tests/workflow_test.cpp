// A new user's whole piece of work through the main window, a save onto a
// failing disk, and the screenshots.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextLayout>

#include "tool/ui/board_dialogs.h"
#include "tool/ui/bx_string_grid.h"
#include "tool/ui/main_form.h"
#include "tool/ui/station_dialog.h"
#include "tool/ui/tests/ui_test_support.h"

namespace kalvo::tool::ui {
namespace {

using testing::contents;
using testing::Feedback;
using testing::whenModal;

// New, a folder, one PC-card board at 12 Mbit/s with long frame 1.
void newConfiguration(MainForm& main, const QString& folder) {
    whenModal<BoardSetUpDialog>([folder](BoardSetUpDialog* d) {
        d->setDirectory(folder);
        QTest::mouseClick(d->button("btnNext"), Qt::LeftButton);
        d->rows().board[0]->setCurrentIndex(3);
        d->rows().baud[0]->setCurrentIndex(2);
        d->rows().longFrame[0]->setCurrentIndex(1);
        QTest::mouseClick(d->button("btnOk"), Qt::LeftButton);
    });
    main.fileNew();
}

// MST at 0 with QMDIO32 and QMADA04, AXS4 at 4.
void layOutNetwork(MainForm& main) {
    NetworkEditor* e = main.editor();
    testing::drag(main.palette()->headPicture(kStaMst), e->place(0, 0));
    whenModal<StationDialog>([](StationDialog* d) {
        d->combo(1)->setCurrentText(QStringLiteral("QMDIO32"));
        d->combo(2)->setCurrentText(QStringLiteral("QMADA04"));
        QApplication::processEvents();
        QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("btnOk")), Qt::LeftButton);
    });
    QTest::mouseClick(e->place(0, 0), Qt::RightButton, {}, QPoint(8, 8));
    testing::drag(main.palette()->headPicture(kStaAxs4), e->place(0, 4));
}

struct Tool {
    ToolSession session;
    MainForm main{session, QStringLiteral(KALVO_EXAMPLE_MODEL_TABLE)};
    Tool() { main.resize(1100, 720); }
};

TEST(Workflow, NewUserLaysOutSavesReopensAndMatchesTheCommandLineTool) {
    Feedback feedback;
    QTemporaryDir gui, cli;
    Tool tool;
    tool.main.show();
    newConfiguration(tool.main, gui.path());
    ASSERT_NE(tool.main.editor(), nullptr);
    EXPECT_FALSE(tool.main.action("FileNew1")->isEnabled());
    EXPECT_TRUE(tool.main.action("FileSave1")->isEnabled());
    EXPECT_TRUE(tool.main.palette()->isVisible());
    EXPECT_EQ(tool.main.editor()->pages()->tabText(0), QStringLiteral("BOARD # 1/LINE # 1"));
    layOutNetwork(tool.main);
    const Network laidOut = tool.session.model.network();
    EXPECT_EQ(laidOut[0][0][0].StaType, kStaMst);
    EXPECT_EQ(laidOut[0][0][7].StaType, kStaAxs4);
    EXPECT_FALSE(laidOut[0][0][7].Head);

    tool.main.fileSave();
    feedback.Answers.push_back(QMessageBox::No);
    tool.main.mdiArea()->closeAllSubWindows();
    QApplication::processEvents();
    EXPECT_EQ(tool.main.editor(), nullptr);
    EXPECT_TRUE(tool.main.action("FileNew1")->isEnabled());
    EXPECT_EQ(feedback.Beeps, 1);  // the save question
    ASSERT_EQ(feedback.Messages.size(), 1u);
    EXPECT_EQ(feedback.Messages[0].Text, QStringLiteral("設定の保存を行ないますか？"));

    whenModal<BoardSetUpDialog>([&](BoardSetUpDialog* d) {
        d->setDirectory(gui.path());
        QTest::mouseClick(d->button("btnOk"), Qt::LeftButton);
    });
    tool.main.fileOpen();
    ASSERT_NE(tool.main.editor(), nullptr);
    for (int a = 0; a < kAddresses; ++a) {
        const TStaAddRec& r = tool.session.model.at(0, 0, a);
        EXPECT_EQ(r.StaType, laidOut[0][0][size_t(a)].StaType) << a;
        EXPECT_EQ(r.Head, laidOut[0][0][size_t(a)].Head) << a;
        EXPECT_EQ(tool.main.editor()->place(0, a)->staType(), r.StaType) << a;
    }
    EXPECT_EQ(tool.session.model.at(0, 0, 0).Module, laidOut[0][0][0].Module);

    auto run = [&](const QStringList& args) {
        QProcess p;
        p.start(QStringLiteral(KALVO_CONFIG_PROGRAM), QStringList{"-C", cli.path()} + args);
        p.waitForFinished(30000);
        EXPECT_EQ(p.exitCode(), 0)
            << args.join(' ').toStdString() << ": " << p.readAllStandardError().toStdString();
    };
    run({"new", "--board", "1=Cardmaster:12:1"});
    run({"place", "1", "0", "MST", "QMDIO32", "QMADA04"});
    run({"place", "1", "4", "AXS4"});
    for (const char* name : {"Kalvo.ini", "Cardmaster.ini", "KalvoConfig.dat"})
        EXPECT_EQ(contents(gui.filePath(name)), contents(cli.filePath(name))) << name;
    tool.session.closingByProgram = true;
    tool.main.mdiArea()->closeAllSubWindows();
}

TEST(Workflow, SaveOntoAFailingDiskReportsItAndKeepsThePreviousFiles) {
    Feedback feedback;
    QTemporaryDir dir;
    Tool tool;
    newConfiguration(tool.main, dir.path());
    ASSERT_NE(tool.main.editor(), nullptr);
    layOutNetwork(tool.main);
    tool.main.fileSave();
    ASSERT_TRUE(feedback.Messages.empty());
    const QByteArray ini = contents(dir.filePath("Kalvo.ini"));
    const QByteArray dat = contents(dir.filePath("KalvoConfig.dat"));
    testing::drag(tool.main.palette()->headPicture(kStaMst), tool.main.editor()->place(0, 20));
    {
        testing::FailingDisk disk(dir.path());
        tool.main.fileSave();
    }
    // Kalvo.ini's failure is reported too, before KalvoConfig.dat's.
    ASSERT_EQ(feedback.Messages.size(), 2u);
    EXPECT_TRUE(
        feedback.Messages[0].Text.startsWith(QStringLiteral("Kalvo.iniの書き込みに失敗しました!")))
        << feedback.Messages[0].Text.toStdString();
    EXPECT_TRUE(feedback.Messages.back().Text.startsWith(
        QStringLiteral("KalvoConfig.datの書き込みに失敗しました!")))
        << feedback.Messages.back().Text.toStdString();
    EXPECT_EQ(contents(dir.filePath("Kalvo.ini")), ini);
    EXPECT_EQ(contents(dir.filePath("KalvoConfig.dat")), dat);
    tool.session.closingByProgram = true;
    tool.main.mdiArea()->closeAllSubWindows();
}

// The standard buttons of Qt's message boxes speak Japanese, as the tool's
// own captions do (Qt's translation is installed as the program does).
TEST(Workflow, StandardButtonsSpeakJapanese) {
    QMessageBox box(QMessageBox::Question, applicationTitle(),
                    QStringLiteral("設定の保存を行ないますか？"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    for (QAbstractButton* b : box.buttons()) {
        const QString text = b->text();
        bool japanese = false;
        for (QChar c : text) japanese = japanese || c.unicode() >= 0x3000;
        EXPECT_TRUE(japanese) << text.toStdString();
    }
    EXPECT_TRUE(box.button(QMessageBox::Yes)->text().contains(QStringLiteral("はい")));
}

// On a screen with room, the palette opens beside the editor, not over it.
TEST(Workflow, ThePaletteLeavesTheEditorFree) {
    Feedback feedback;
    QTemporaryDir dir;
    Tool tool;
    tool.main.showMaximized();
    QApplication::processEvents();
    newConfiguration(tool.main, dir.path());
    ASSERT_NE(tool.main.editor(), nullptr);
    QApplication::processEvents();
    QWidget* window = tool.main.editor()->parentWidget();
    const QRect editor(window->mapToGlobal(QPoint(0, 0)), window->size());
    const QRect palette = tool.main.palette()->frameGeometry();
    const QRect screen = tool.main.screen()->availableGeometry();
    EXPECT_TRUE(screen.contains(palette)) << palette.x() << "," << palette.y();
    if (screen.width() >= editor.right() + palette.width() + 8) {
        EXPECT_FALSE(palette.intersects(editor));
    }
    tool.session.closingByProgram = true;
    tool.main.mdiArea()->closeAllSubWindows();
}

// True when every character of text is drawn with a real glyph of some font.
bool drawnWithGlyphs(const QString& text, const QFont& font) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    int glyphs = 0;
    for (const QGlyphRun& run : layout.glyphRuns())
        for (quint32 g : run.glyphIndexes()) {
            if (g == 0) return false;
            ++glyphs;
        }
    return glyphs > 0;
}

void expectPicture(QWidget* w, const char* name, QSize atLeast) {
    QDir().mkpath(QStringLiteral(KALVO_SCREENSHOT_DIR));
    const QImage shot = w->grab().toImage();
    const QString path = QStringLiteral(KALVO_SCREENSHOT_DIR "/%1.png").arg(name);
    ASSERT_TRUE(shot.save(path)) << path.toStdString();
    const QImage back(path);
    EXPECT_GE(back.width(), atLeast.width()) << name;
    EXPECT_GE(back.height(), atLeast.height()) << name;
    // Not one plain colour.
    QSet<QRgb> colours;
    for (int y = 0; y < back.height(); y += 7)
        for (int x = 0; x < back.width(); x += 7) colours.insert(back.pixel(x, y));
    EXPECT_GT(colours.size(), 20) << name;
}

TEST(Workflow, ScreenshotsShowTheEditorTheStationDialogAndThePalette) {
    Feedback feedback;
    QTemporaryDir dir;
    Tool tool;
    tool.main.show();
    newConfiguration(tool.main, dir.path());
    ASSERT_NE(tool.main.editor(), nullptr);
    layOutNetwork(tool.main);
    testing::drag(tool.main.palette()->headPicture(kStaRfid2), tool.main.editor()->place(0, 9));
    testing::drag(tool.main.palette()->headPicture(kStaAxs2), tool.main.editor()->place(0, 17));
    // A second MST with other modules: each shows its own.
    testing::drag(tool.main.palette()->headPicture(kStaMst), tool.main.editor()->place(0, 12));
    whenModal<StationDialog>([](StationDialog* d) {
        d->combo(1)->setCurrentText(QStringLiteral("QMSIO01"));
        d->combo(2)->setCurrentText(QStringLiteral("QMDIO16"));
        QApplication::processEvents();
        QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("btnOk")), Qt::LeftButton);
    });
    QTest::mouseClick(tool.main.editor()->place(0, 12), Qt::RightButton, {}, QPoint(8, 8));
    tool.main.fileSave();
    QApplication::processEvents();
    expectPicture(&tool.main, "main_window", {1000, 600});
    expectPicture(tool.main.palette(), "station_palette", {255, 150});
    whenModal<StationDialog>([](StationDialog* d) {
        QApplication::processEvents();
        expectPicture(d, "station_dialog", {488, 270});
        d->reject();
    });
    QTest::mouseClick(tool.main.editor()->place(0, 0), Qt::RightButton, {}, QPoint(8, 8));
    for (const QString& caption :
         {applicationTitle(), QStringLiteral("ステーションパレット"),
          QStringLiteral("ステーションの設定"), QStringLiteral("モジュールタイプ"),
          QStringLiteral("ボード："), QStringLiteral("ライン：")})
        EXPECT_TRUE(drawnWithGlyphs(caption, tool.main.font())) << caption.toStdString();
    tool.session.closingByProgram = true;
    tool.main.mdiArea()->closeAllSubWindows();
}

}  // namespace
}  // namespace kalvo::tool::ui
