// The ways a network was once lost or put in the wrong folder, each driven
// as a user would: the keyboard in the folder tree, New on a folder that
// holds a configuration, closing onto a failing disk, a board kind the tool
// does not know, an editor opened from the hardware settings, Open after an
// Open that failed.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeView>

#include "tool/model/configuration_files.h"
#include "tool/ui/tests/ui_test_support.h"

namespace kalvo::tool::ui {
namespace {

using testing::contents;
using testing::Feedback;
using testing::whenModal;

void writeFile(const QString& path, const QByteArray& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(text);
}

const QByteArray kOnePci =
    "[KALVO]\r\nConfigTool=1\r\nBoard=1\r\n[BOARD_1]\r\nKind=Pcimaster64\r\nLineMax=1\r\n";

struct Tool {
    ToolSession session;
    MainForm main{session, QStringLiteral(KALVO_EXAMPLE_MODEL_TABLE)};
    ~Tool() {
        session.closingByProgram = true;
        if (main.editor()) main.editor()->close();
        QApplication::processEvents();
    }
    void open(const QString& folder) {
        whenModal<BoardSetUpDialog>([folder](BoardSetUpDialog* d) {
            d->setDirectory(folder);
            QTest::mouseClick(d->button("btnOk"), Qt::LeftButton);
        });
        main.fileOpen();
    }
    QString folder() const { return QString::fromStdString(session.model.folder()); }
};

TEST(FolderChooser, TheHighlightedFolderIsTheChosenOneHoweverItWasReached) {
    const struct {
        const char* name;
        std::function<void(QTreeView*)> keys;
    } cases[] = {
        {"arrow key", [](QTreeView* tree) { QTest::keyClick(tree, Qt::Key_Down); }},
        {"typing a name", [](QTreeView* tree) { QTest::keyClicks(tree, QStringLiteral("be")); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Feedback feedback;
        QTemporaryDir root;
        QDir(root.path()).mkdir(QStringLiteral("beta"));
        writeFile(root.filePath(QStringLiteral("beta/Kalvo.ini")), kOnePci);
        Tool tool;
        QString shown;
        whenModal<BoardSetUpDialog>([&](BoardSetUpDialog* d) {
            d->setDirectory(root.path());
            QTreeView* tree = d->directoryList();
            const QModelIndex at = tree->currentIndex();
            tree->expand(at);
            tree->setFocus();
            // The folder's own folder is listed once the model has read it.
            for (int i = 0; i < 2000 && tree->model()->rowCount(at) < 1; ++i) QTest::qWait(10);
            if (tree->model()->rowCount(at) < 1) {
                ADD_FAILURE() << "the folder list never showed beta";
                d->reject();
                return;
            }
            c.keys(tree);
            shown = d->findChild<QLineEdit*>(QStringLiteral("EditDir"))->text();
            QTest::mouseClick(d->button("btnOk"), Qt::LeftButton);
        });
        tool.main.fileOpen();
        EXPECT_EQ(shown, root.filePath(QStringLiteral("beta")));
        EXPECT_EQ(tool.folder(), root.filePath(QStringLiteral("beta")) + "/");
        EXPECT_NE(tool.main.editor(), nullptr);
        EXPECT_TRUE(feedback.Messages.empty());
    }
}

TEST(NewOnAFolderWithAConfiguration, AsksNamingTheFilesItWouldReplace) {
    const struct {
        QMessageBox::StandardButton answer;
        bool intoTheFullFolder;
    } cases[] = {{QMessageBox::No, false}, {QMessageBox::Yes, true}};
    for (const auto& c : cases) {
        Feedback feedback;
        QTemporaryDir full, empty;
        writeFile(full.filePath(QStringLiteral("Kalvo.ini")), kOnePci);
        writeFile(full.filePath(QStringLiteral("KalvoConfig.dat")), "dat");
        Tool tool;
        feedback.Answers.push_back(c.answer);
        bool askedAgain = false;
        whenModal<BoardSetUpDialog>([&](BoardSetUpDialog* d) {
            d->setDirectory(full.path());
            QTest::mouseClick(d->button("btnNext"), Qt::LeftButton);
            d->rows().board[0]->setCurrentIndex(1);
            QTest::mouseClick(d->button("btnOk"), Qt::LeftButton);
            if (d->isVisible()) {
                // No: back at the folders, to choose another.
                askedAgain = d->button("btnNext")->isEnabled();
                d->setDirectory(empty.path());
                QTest::mouseClick(d->button("btnNext"), Qt::LeftButton);
                d->rows().board[0]->setCurrentIndex(1);
                QTest::mouseClick(d->button("btnOk"), Qt::LeftButton);
            }
        });
        tool.main.fileNew();
        ASSERT_EQ(feedback.Messages.size(), 1u);
        const QString& text = feedback.Messages[0].Text;
        EXPECT_TRUE(text.contains(QStringLiteral("Kalvo.ini")) &&
                    text.contains(QStringLiteral("KalvoConfig.dat")) && text.contains(full.path()))
            << text.toStdString();
        EXPECT_EQ(feedback.Messages[0].Buttons, QMessageBox::Yes | QMessageBox::No);
        EXPECT_EQ(askedAgain, !c.intoTheFullFolder);
        ASSERT_NE(tool.main.editor(), nullptr);
        EXPECT_EQ(tool.folder(), (c.intoTheFullFolder ? full.path() : empty.path()) + "/");
        EXPECT_EQ(contents(full.filePath(QStringLiteral("Kalvo.ini"))), kOnePci);
    }
}

TEST(ASaveThatFailsOnClose, KeepsTheWindowAndItsNetwork) {
    Feedback feedback;
    testing::NewTool tool;
    tool.place(3, kStaMst);
    {
        testing::FailingDisk disk(tool.dir.path());
        // The editor's own close, then the main window's, each answered Yes.
        feedback.Answers = {QMessageBox::Yes};
        tool.main.mdiArea()->closeAllSubWindows();
        QApplication::processEvents();
        ASSERT_NE(tool.editor(), nullptr);
        feedback.Answers = {QMessageBox::Yes};
        EXPECT_FALSE(tool.main.close());
        ASSERT_NE(tool.editor(), nullptr);
    }
    EXPECT_EQ(tool.session.model.at(0, 0, 3).StaType, kStaMst);
    EXPECT_TRUE(feedback.Messages.back().Text.startsWith(
        QStringLiteral("KalvoConfig.datの書き込みに失敗しました!")));
    // With room again, Yes saves and closes.
    feedback.Answers = {QMessageBox::Yes};
    tool.main.mdiArea()->closeAllSubWindows();
    QApplication::processEvents();
    EXPECT_EQ(tool.editor(), nullptr);
    EXPECT_TRUE(contents(tool.dir.filePath(QStringLiteral("Kalvo.ini"))).contains("[CTR_1_1_3]"));
}

TEST(ABoardKindTheToolDoesNotKnow, IsToldAndNeverSavedOver) {
    Feedback feedback;
    QTemporaryDir dir, alone;
    const QByteArray text =
        "[KALVO]\r\nConfigTool=1\r\nBoard=2\r\n[BOARD_1]\r\nKind=Tolva\r\nLineMax=1\r\n"
        "[BOARD_2]\r\nKind=Pcimaster64\r\nLineMax=1\r\n"
        "[DIO_1]\r\nBoard=1\r\nLine=1\r\nBase=0\r\nOffset=0\r\n";
    writeFile(dir.filePath(QStringLiteral("Kalvo.ini")), text);
    Tool tool;
    tool.open(dir.path());
    ASSERT_NE(tool.main.editor(), nullptr);
    EXPECT_EQ(tool.main.editor()->pages()->tabText(0), QStringLiteral("BOARD # 2/LINE # 1"));
    ASSERT_EQ(feedback.Messages.size(), 1u);
    EXPECT_TRUE(feedback.Messages[0].Text.contains(QStringLiteral("[BOARD_1]: Kind \"Tolva\"")))
        << feedback.Messages[0].Text.toStdString();

    // Save refuses, also after the board settings were confirmed unchanged.
    for (bool confirmed : {false, true}) {
        if (confirmed) {
            whenModal<HardSetDialog>([](HardSetDialog* d) { d->confirm(); });
            tool.main.hardwareSettings();
            QApplication::processEvents();
        }
        feedback.Messages.clear();
        tool.main.fileSave();
        ASSERT_EQ(feedback.Messages.size(), 1u) << confirmed;
        EXPECT_TRUE(feedback.Messages[0].Text.contains(QStringLiteral("[BOARD_1]")));
        EXPECT_EQ(contents(dir.filePath(QStringLiteral("Kalvo.ini"))), text);
        EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("KalvoConfig.dat"))));
    }
    // Given a kind, the board is the user's: the folder saves.
    whenModal<HardSetDialog>([](HardSetDialog* d) {
        d->rows().board[0]->setCurrentIndex(3);
        d->confirm();
    });
    tool.main.hardwareSettings();
    QApplication::processEvents();
    feedback.Messages.clear();
    tool.main.fileSave();
    EXPECT_TRUE(feedback.Messages.empty()) << feedback.Messages[0].Text.toStdString();
    EXPECT_TRUE(contents(dir.filePath(QStringLiteral("Kalvo.ini")))
                    .contains("[BOARD_1]\r\nKind=Cardmaster\r\n"));

    // A folder with no board the tool knows: no editor, and why.
    tool.session.closingByProgram = true;
    tool.main.editor()->close();
    QApplication::processEvents();
    writeFile(alone.filePath(QStringLiteral("Kalvo.ini")),
              "[KALVO]\r\nConfigTool=1\r\nBoard=1\r\n[BOARD_1]\r\nKind=Tolva\r\n");
    feedback.Messages.clear();
    tool.open(alone.path());
    EXPECT_EQ(tool.main.editor(), nullptr);
    ASSERT_EQ(feedback.Messages.size(), 1u);
    EXPECT_TRUE(feedback.Messages[0].Text.contains(QStringLiteral("[BOARD_1]")));
}

// An editor opened from the hardware settings (no New or Open) has no
// folder: its Save asks for one instead of writing into the working
// directory or over the folder of the editor closed before.
TEST(AnEditorWithoutAFolder, AsksForOneWhenSaved) {
    Feedback feedback;
    QTemporaryDir first, chosen, work;
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(work.path());
    Tool tool;
    for (const bool afterAnEditor : {false, true}) {
        SCOPED_TRACE(afterAnEditor ? "F6 after closing an editor" : "F6 at start");
        if (afterAnEditor) {
            whenModal<BoardSetUpDialog>([&](BoardSetUpDialog* d) {
                d->setDirectory(first.path());
                d->next();
                d->rows().board[0]->setCurrentIndex(1);
                d->confirm();
            });
            tool.main.fileNew();
            tool.main.fileSave();
            feedback.Answers = {QMessageBox::No};
            tool.main.mdiArea()->closeAllSubWindows();
            QApplication::processEvents();
            ASSERT_EQ(tool.main.editor(), nullptr);
        }
        const QByteArray firstIni = contents(first.filePath(QStringLiteral("Kalvo.ini")));
        whenModal<HardSetDialog>([](HardSetDialog* d) {
            d->rows().board[0]->setCurrentIndex(1);
            d->confirm();
        });
        tool.main.hardwareSettings();
        QApplication::processEvents();  // 1145
        ASSERT_NE(tool.main.editor(), nullptr);
        EXPECT_TRUE(tool.main.editor()->windowTitle().contains(QStringLiteral("フォルダ未選択")));
        testing::drag(tool.main.palette()->headPicture(kStaMst), tool.main.editor()->place(0, 2));
        // Cancel in the folder chooser: nothing is written anywhere.
        whenModal<BoardSetUpDialog>([](BoardSetUpDialog* d) { d->reject(); });
        tool.main.fileSave();
        EXPECT_FALSE(QFile::exists(work.filePath(QStringLiteral("Kalvo.ini"))));
        EXPECT_EQ(contents(first.filePath(QStringLiteral("Kalvo.ini"))), firstIni);
        whenModal<BoardSetUpDialog>([&](BoardSetUpDialog* d) {
            EXPECT_TRUE(d->button("btnOk")->isEnabled());
            d->setDirectory(chosen.path());
            QTest::mouseClick(d->button("btnOk"), Qt::LeftButton);
        });
        tool.main.fileSave();
        EXPECT_TRUE(contents(chosen.filePath(QStringLiteral("Kalvo.ini"))).contains("[CTR_1_1_2]"));
        EXPECT_TRUE(tool.main.editor()->windowTitle().contains(chosen.path()));
        EXPECT_FALSE(QFile::exists(work.filePath(QStringLiteral("Kalvo.ini"))));
        EXPECT_EQ(contents(first.filePath(QStringLiteral("Kalvo.ini"))), firstIni);
        QFile::remove(chosen.filePath(QStringLiteral("Kalvo.ini")));
        QFile::remove(chosen.filePath(QStringLiteral("KalvoConfig.dat")));
        tool.session.closingByProgram = true;
        tool.main.editor()->close();
        QApplication::processEvents();
    }
    QDir::setCurrent(cwd);
}

TEST(OpenAfterAnOpenThatFailed, OpensTheEditor) {
    Feedback feedback;
    QTemporaryDir none, valid;
    writeFile(valid.filePath(QStringLiteral("Kalvo.ini")), kOnePci);
    Tool tool;
    tool.open(none.path());
    EXPECT_EQ(tool.main.editor(), nullptr);
    ASSERT_EQ(feedback.Messages.size(), 1u);
    tool.open(valid.path());
    ASSERT_NE(tool.main.editor(), nullptr);
    EXPECT_EQ(tool.folder(), valid.path() + "/");
}

// New + Save and Open + Save of the same folder write the same bytes.
TEST(OneNetwork, GivesOneKalvoConfigDatHoweverItWasReached) {
    Feedback feedback;
    testing::NewTool tool;
    tool.place(0, kStaAxs2);
    tool.main.fileSave();
    const QByteArray fromNew = contents(tool.dir.filePath(QStringLiteral("KalvoConfig.dat")));
    tool.session.closingByProgram = true;
    tool.editor()->close();
    QApplication::processEvents();
    Tool again;
    again.open(tool.dir.path());
    ASSERT_NE(again.main.editor(), nullptr);
    again.main.fileSave();
    EXPECT_EQ(contents(tool.dir.filePath(QStringLiteral("KalvoConfig.dat"))), fromNew);
    EXPECT_EQ(fromNew.mid(4 + 4, 2), QByteArray("\x01\x00", 2));
}

}  // namespace
}  // namespace kalvo::tool::ui
