// Beeps and message boxes of the tool, through hooks so that a test (or a
// run without a person) can see and answer them.
#pragma once

#include <functional>

#include <QMessageBox>
#include <QString>

namespace kalvo::tool::ui {

// The application title, also the caption of every message box.
QString applicationTitle();

using MessageHook = std::function<QMessageBox::StandardButton(
    QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons buttons)>;
using BeepHook = std::function<void()>;

// Empty hooks restore the real box and beep.
void setMessageHook(MessageHook hook);
void setBeepHook(BeepHook hook);

void beep();
QMessageBox::StandardButton showMessage(QWidget* parent, QMessageBox::Icon icon,
                                        const QString& text, QMessageBox::StandardButtons buttons);
inline void showError(QWidget* parent, const QString& text,
                      QMessageBox::StandardButtons buttons = QMessageBox::Yes) {
    showMessage(parent, QMessageBox::Critical, text, buttons);
}

}  // namespace kalvo::tool::ui
