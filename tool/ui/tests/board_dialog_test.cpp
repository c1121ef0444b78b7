// The board setup wizard, the hardware settings dialog and the main
// window's commands around them.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QMdiArea>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>

#include "tool/ui/tests/ui_test_support.h"

namespace kalvo::tool::ui {
namespace {

using testing::Feedback;
using testing::NewTool;
using testing::whenModal;

bool sameBoard(const TBoardSetRec& a, const TBoardSetRec& b) {
    return a.BoardNo == b.BoardNo && a.Kind == b.Kind && a.LineCount == b.LineCount &&
           a.Line[0].Baudrate == b.Line[0].Baudrate && a.Line[0].LongFrame == b.Line[0].LongFrame;
}

TEST(BoardSetUp, NewBuildsTheBoardRecordsFromTheRows) {
    const struct {
        const char* name;
        int slot, kind, baud, lf;
        bool combosEnabled;
        TBoardSetRec expected;
    } cases[] = {
        {"PC card 12 Mbit/s LF 1", 0, 3, 2, 1, true, {1, 3, 1, {{{12, 1}, {0, 0}}}}},
        {"PCI takes the first items", 0, 1, 2, 1, false, {1, 1, 1, {{{3, 0}, {0, 0}}}}},
        {"slot 3 alone is board 1", 2, 4, 1, 0, true, {1, 4, 1, {{{6, 0}, {0, 0}}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Feedback feedback;
        QTemporaryDir dir;
        ToolSession session;
        MainForm main(session, QStringLiteral(KALVO_EXAMPLE_MODEL_TABLE));
        whenModal<BoardSetUpDialog>([&](BoardSetUpDialog* d) {
            EXPECT_FALSE(d->button("btnPrev")->isEnabled());
            EXPECT_FALSE(d->button("btnOk")->isEnabled());
            d->setDirectory(dir.path());
            QTest::mouseClick(d->button("btnNext"), Qt::LeftButton);
            EXPECT_TRUE(d->button("btnOk")->isEnabled());
            d->rows().board[c.slot]->setCurrentIndex(c.kind);
            EXPECT_EQ(d->rows().baud[c.slot]->isEnabled(), c.combosEnabled);
            // The disabled combos are still read (their first items).
            d->rows().baud[c.slot]->setCurrentIndex(c.combosEnabled ? c.baud : 0);
            d->rows().longFrame[c.slot]->setCurrentIndex(c.combosEnabled ? c.lf : 0);
            QTest::mouseClick(d->button("btnOk"), Qt::LeftButton);
        });
        main.fileNew();
        EXPECT_TRUE(sameBoard(session.model.boards()[size_t(c.slot)], c.expected));
        EXPECT_EQ(session.model.boardCount(), 1);
        EXPECT_EQ(session.model.folder(), (dir.path() + "/").toStdString());
        ASSERT_NE(main.editor(), nullptr);
        EXPECT_EQ(main.editor()->pageCount(), 1);
        session.closingByProgram = true;
        main.editor()->close();
    }
}

TEST(BoardSetUp, RefusesNoBoardAndAFolderWithoutKalvoIni) {
    Feedback feedback;
    QTemporaryDir dir;
    ToolSession session;
    MainForm main(session, QStringLiteral(KALVO_EXAMPLE_MODEL_TABLE));
    whenModal<BoardSetUpDialog>([&](BoardSetUpDialog* d) {
        d->setDirectory(dir.path());
        d->next();
        d->confirm();
        EXPECT_TRUE(d->isVisible());  // stays open
        d->reject();
    });
    main.fileNew();
    ASSERT_EQ(feedback.Messages.size(), 1u);
    EXPECT_EQ(feedback.Messages[0].Text, QStringLiteral("ボードの設定が正しくありません!"));
    EXPECT_EQ(main.editor(), nullptr);
    EXPECT_TRUE(main.action("FileNew1")->isEnabled());
    EXPECT_FALSE(main.action("FileSave1")->isEnabled());

    whenModal<BoardSetUpDialog>([&](BoardSetUpDialog* d) {
        EXPECT_FALSE(d->button("btnNext")->isEnabled());
        d->setDirectory(dir.path());
        QTest::mouseClick(d->button("btnOk"), Qt::LeftButton);
    });
    main.fileOpen();
    ASSERT_EQ(feedback.Messages.size(), 2u);
    EXPECT_TRUE(feedback.Messages[1].Text.startsWith(QStringLiteral("Iniファイルが存在しません!")));
    EXPECT_EQ(feedback.Beeps, 2);
    EXPECT_EQ(session.model.boardCount(), -1);
    EXPECT_EQ(main.editor(), nullptr);
}

TEST(HardwareSettings, OnlyTheLastBoardMayBeSetToNotUsed) {
    Feedback feedback;
    NewTool tool({1, 3});
    ASSERT_NE(tool.editor(), nullptr);
    ASSERT_EQ(tool.editor()->pageCount(), 2);
    tool.place(5, kStaMst);
    whenModal<HardSetDialog>([&](HardSetDialog* d) {
        d->rows().board[0]->setCurrentIndex(0);
        EXPECT_EQ(d->rows().board[0]->currentIndex(), 1);  // back to the stored kind
        d->rows().board[1]->setCurrentIndex(0);
        d->confirm();
    });
    tool.main.hardwareSettings();
    ASSERT_EQ(feedback.Messages.size(), 1u);
    EXPECT_EQ(feedback.Messages[0].Text,
              QStringLiteral("ボード2が存在する為、\rこのボードを未使用にはできません! "));
    // 1124 is posted: the editor applies it on the next turn of the queue.
    EXPECT_EQ(tool.editor()->pageCount(), 2);
    QApplication::processEvents();
    EXPECT_EQ(tool.editor()->pageCount(), 1);
    EXPECT_EQ(tool.session.model.boardCount(), 1);
    EXPECT_EQ(tool.session.model.boards()[1].BoardNo, 0);
    EXPECT_EQ(tool.session.model.at(0, 0, 5).StaType, kStaMst);
}

TEST(HardwareSettings, ConfirmedBeforeAnyEditorOpensAnEmptyOne) {
    Feedback feedback;
    ToolSession session;
    MainForm main(session, QStringLiteral(KALVO_EXAMPLE_MODEL_TABLE));
    EXPECT_TRUE(main.action("HardSet")->isEnabled());
    whenModal<HardSetDialog>([&](HardSetDialog* d) {
        d->confirm();  // no board: refused, stays open
        EXPECT_TRUE(d->isVisible());
        d->rows().board[0]->setCurrentIndex(2);
        d->confirm();
    });
    main.hardwareSettings();
    EXPECT_EQ(feedback.Messages.size(), 1u);
    EXPECT_EQ(main.editor(), nullptr);
    QApplication::processEvents();  // 1145
    ASSERT_NE(main.editor(), nullptr);
    EXPECT_EQ(main.editor()->pageCount(), 1);
    EXPECT_EQ(session.model.at(0, 0, 0).StaType, kStaNew);
    session.closingByProgram = true;
    main.editor()->close();
}

TEST(MainWindow, ClosingWithAnEditorAsksAndCancelKeepsBoth) {
    Feedback feedback;
    NewTool tool;
    tool.main.show();
    feedback.Answers.push_back(QMessageBox::Cancel);
    EXPECT_FALSE(tool.main.close());
    EXPECT_NE(tool.editor(), nullptr);
    EXPECT_TRUE(tool.main.isVisible());
    EXPECT_EQ(feedback.Messages.size(), 1u);
    EXPECT_EQ(feedback.Beeps, 1);
    // No: the program closes the editor without a second question.
    feedback.Answers.push_back(QMessageBox::No);
    EXPECT_TRUE(tool.main.close());
    QApplication::processEvents();
    EXPECT_EQ(feedback.Messages.size(), 2u);
}

// Xfertool gets KalvoConfig.dat by its full name and runs in the folder.
TEST(MainWindow, TransferStartsXfertoolInTheFolderOrSaysWhyNot) {
    Feedback feedback;
    NewTool tool;
    tool.main.transfer();
    EXPECT_TRUE(tool.main.statusBar()->currentMessage().contains(QStringLiteral("save first")));
    tool.main.fileSave();
    QTemporaryDir bin;
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.path().toUtf8());
    tool.main.transfer();
    EXPECT_TRUE(tool.main.statusBar()->currentMessage().contains(QStringLiteral("Xfertool")));

    const QString record = bin.filePath(QStringLiteral("args"));
    QFile script(bin.filePath(QStringLiteral("Xfertool")));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\necho \"$(pwd) $@\" > %1.tmp && /bin/mv %1.tmp %1\n")
                     .arg(record)
                     .toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    tool.main.transfer();
    qputenv("PATH", path);
    // The detached program's one record, once it exists.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record), 20000);
    QFile f(record);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString dir = QDir(tool.dir.path()).canonicalPath();
    EXPECT_EQ(QString::fromUtf8(f.readAll()),
              dir + " " + tool.dir.path() + QStringLiteral("/KalvoConfig.dat\n"));
}

}  // namespace
}  // namespace kalvo::tool::ui
