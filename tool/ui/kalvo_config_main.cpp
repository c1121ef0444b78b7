// KalvoConfig: lays out a plant's Kalvo network and writes its configuration
// files. The model table is the one installed with the programs
// (share/kalvo beside the program's folder).
#include <QApplication>

#include "platform/data_dir.h"
#include "tool/ui/main_form.h"
#include "tool/ui/ui_feedback.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KalvoConfig"));
    QApplication::setApplicationDisplayName(kalvo::tool::ui::applicationTitle());
    kalvo::tool::ui::ToolSession session;
    kalvo::tool::ui::MainForm main(
        session,
        QString::fromStdString(kalvo::platform::installedDataPath("ModelTbl.ini").string()));
    main.showMaximized();
    return app.exec();
}
