// What the GUI tests share: the recorded message boxes and beeps, a helper
// acting on the next modal dialog, and drag-and-drop onto station places.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <deque>
#include <functional>
#include <vector>

#include <QApplication>
#include <QFile>
#include <QMimeData>
#include <QTimer>
#include <QtTest/QTest>

#include "tool/ui/station_palette.h"
#include "tool/ui/ui_feedback.h"

namespace kalvo::tool::ui::testing {

struct Shown {
    QMessageBox::Icon Icon;
    QString Text;
    QMessageBox::StandardButtons Buttons;
};

// Installs hooks that record every box and beep; boxes are answered from a
// queue (the first offered button when it is empty).
struct Feedback {
    std::vector<Shown> Messages;
    int Beeps = 0;
    std::deque<QMessageBox::StandardButton> Answers;
    Feedback() {
        setMessageHook([this](QMessageBox::Icon icon, const QString& text,
                              QMessageBox::StandardButtons buttons) {
            Messages.push_back({icon, text, buttons});
            if (!Answers.empty()) {
                auto a = Answers.front();
                Answers.pop_front();
                return a;
            }
            for (auto b : {QMessageBox::Yes, QMessageBox::Ok, QMessageBox::No})
                if (buttons & b) return b;
            return QMessageBox::Cancel;
        });
        setBeepHook([this] { ++Beeps; });
    }
    ~Feedback() {
        setMessageHook({});
        setBeepHook({});
    }
};

// Runs act on the next modal dialog once it is shown (from inside its exec).
template <typename Dialog>
void whenModal(std::function<void(Dialog*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        auto* d = dynamic_cast<Dialog*>(QApplication::activeModalWidget());
        if (!d || !d->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        act(d);
    });
    timer->start();
}

// A disk that stops taking data part way: as root a read-only mode does not
// stop writes, so the file size limit plays the full disk there.
struct FailingDisk {
    QString folder;
    rlimit saved{};
    explicit FailingDisk(const QString& f) : folder(f) {
        if (geteuid() != 0) {
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        } else {
            std::signal(SIGXFSZ, SIG_IGN);
            getrlimit(RLIMIT_FSIZE, &saved);
            rlimit small = saved;
            small.rlim_cur = 64;
            setrlimit(RLIMIT_FSIZE, &small);
        }
    }
    ~FailingDisk() {
        if (geteuid() != 0)
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        else
            setrlimit(RLIMIT_FSIZE, &saved);
    }
};

// A file's bytes, "<missing>" when it cannot be read.
inline QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

inline void dropOn(QWidget* place) {
    QMimeData mime;
    mime.setData(kStationMime, "1");
    QDropEvent drop(QPointF(8, 8), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    // Straight to the place, as the drag manager delivers it under the cursor.
    static_cast<QObject*>(place)->event(&drop);
}
// A drag started on a picture (the press prepares it) and dropped on place.
inline void drag(QWidget* from, QWidget* place) {
    QTest::mousePress(from, Qt::LeftButton, {}, QPoint(8, 8));
    QTest::mouseRelease(from, Qt::LeftButton, {}, QPoint(8, 8));
    dropOn(place);
}

}  // namespace kalvo::tool::ui::testing

#include <QComboBox>
#include <QTemporaryDir>

#include "tool/ui/board_dialogs.h"
#include "tool/ui/main_form.h"

namespace kalvo::tool::ui::testing {

// The main window after New with the given board kinds (slot by slot) in a
// fresh folder; the editor is open.
struct NewTool {
    QTemporaryDir dir;
    ToolSession session;
    MainForm main;
    explicit NewTool(std::vector<int> kinds = {1},
                     const QString& modelTable = QStringLiteral(KALVO_EXAMPLE_MODEL_TABLE))
        : main(session, modelTable) {
        whenModal<BoardSetUpDialog>([this, kinds](BoardSetUpDialog* d) {
            d->setDirectory(dir.path());
            d->next();
            for (size_t i = 0; i < kinds.size(); ++i) d->rows().board[i]->setCurrentIndex(kinds[i]);
            d->confirm();
        });
        main.fileNew();
    }
    ~NewTool() {
        session.closingByProgram = true;
        if (main.editor()) main.editor()->close();
        QApplication::processEvents();
    }
    NetworkEditor* editor() const { return main.editor(); }
    void place(int address, int type) {
        drag(main.palette()->headPicture(type), editor()->place(0, address));
    }
};

}  // namespace kalvo::tool::ui::testing
