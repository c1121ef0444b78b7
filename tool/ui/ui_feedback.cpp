#include "tool/ui/ui_feedback.h"

#include <QApplication>

namespace kalvo::tool::ui {
namespace {
MessageHook& messageHook() {
    static MessageHook hook;
    return hook;
}
BeepHook& beepHook() {
    static BeepHook hook;
    return hook;
}
}  // namespace

QString applicationTitle() {
    return QStringLiteral("Kalvo設定ファイル作成ツール");
}

void setMessageHook(MessageHook hook) {
    messageHook() = std::move(hook);
}
void setBeepHook(BeepHook hook) {
    beepHook() = std::move(hook);
}

void beep() {
    if (beepHook())
        beepHook()();
    else
        QApplication::beep();
}

QMessageBox::StandardButton showMessage(QWidget* parent, QMessageBox::Icon icon,
                                        const QString& text, QMessageBox::StandardButtons buttons) {
    if (messageHook()) return messageHook()(icon, text, buttons);
    QMessageBox box(icon, applicationTitle(), text, buttons, parent);
    return QMessageBox::StandardButton(box.exec());
}

}  // namespace kalvo::tool::ui
