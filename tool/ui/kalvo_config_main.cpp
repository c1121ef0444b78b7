// KalvoConfig: lays out a plant's Kalvo network and writes its configuration
// files. The model table is read from beside the program.
#include <QApplication>

#include "tool/ui/main_form.h"
#include "tool/ui/ui_feedback.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KalvoConfig"));
    QApplication::setApplicationDisplayName(kalvo::tool::ui::applicationTitle());
    kalvo::tool::ui::ToolSession session;
    kalvo::tool::ui::MainForm main(session, QApplication::applicationDirPath() + "/ModelTbl.ini");
    main.showMaximized();
    return app.exec();
}
