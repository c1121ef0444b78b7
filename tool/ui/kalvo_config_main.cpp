// KalvoConfig: lays out a plant's Kalvo network and writes its configuration
// files. The model table is the configuration folder's own, else the one
// installed with the tool (<prefix>/share/kalvo/ModelTbl.ini).
#include <cstdio>
#include <cstdlib>

#include <QApplication>

#include "platform/command_line.h"
#include "platform/data_dir.h"
#include "tool/ui/main_form.h"
#include "tool/ui/translation.h"
#include "tool/ui/ui_feedback.h"

namespace {

// Qt ends the process when no display can be reached; a person is told
// what to do instead.
bool displayReachable() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // --help and --version answer before Qt starts, so they need no display.
    // Single-dash words are Qt's own options (-platform offscreen, -style ...).
    CLI::App options(
        "The Kalvo configuration tool (Qt 6): choose the boards, lay out the stations of each\n"
        "board line by dragging them from the station palette, choose their modules, and save\n"
        "the configuration folder (Kalvo.ini, the board library ini files, KalvoConfig.dat).\n"
        "The model table is the folder's own ModelTbl.ini, else the installed one; the status\n"
        "bar says which. Qt's own options (-platform NAME, -style NAME, ...) are passed to Qt.\n"
        "Without a display: QT_QPA_PLATFORM=offscreen, or xvfb-run -a KalvoConfig.",
        "KalvoConfig");
    options.set_version_flag("--version", "KalvoConfig " KALVO_VERSION);
    options.allow_extras();
    if (const int end = kalvo::platform::parseCommandLine(options, argc, argv); end >= 0)
        return end;
    for (const std::string& word : options.remaining())
        if (word.rfind("--", 0) == 0) {
            std::fprintf(stderr, "KalvoConfig: unknown option %s (see KalvoConfig --help)\n",
                         word.c_str());
            return 2;
        }
    if (!displayReachable()) {
        std::fprintf(stderr,
                     "KalvoConfig: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); run it "
                     "on a desktop, under xvfb-run -a, or with QT_QPA_PLATFORM=offscreen\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KalvoConfig"));
    QApplication::setApplicationDisplayName(kalvo::tool::ui::applicationTitle());
    QString why;
    if (!kalvo::tool::ui::installQtJapanese(app, &why))
        std::fprintf(stderr, "KalvoConfig: %s\n", why.toLocal8Bit().constData());
    kalvo::tool::ui::ToolSession session;
    kalvo::tool::ui::MainForm main(
        session,
        QString::fromStdString(kalvo::platform::installedDataPath("ModelTbl.ini").string()));
    main.showMaximized();
    return app.exec();
}
