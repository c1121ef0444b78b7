// The tool's private window messages, posted as events so that their order
// and their asynchrony are those of a message queue: a window posting one
// goes on with its own work before the receiver handles it.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

namespace kalvo::tool::ui {

enum ToolMessage : int {
    kApplyBoardSettings = 1124,  // hardware settings -> editor
    kRenumberUnits = 1128,       // station dialog -> editor
    kReloadStation = 1129,       // editor -> station dialog
    kOpenEditor = 1145,          // hardware settings -> main window
    kEditorGone = 1147,          // editor, hardware settings -> main window
};

inline QEvent::Type toolMessageType(int message) {
    return QEvent::Type(QEvent::User + message);
}
// The message number of an event, 0 when it is none of ours.
inline int toolMessageOf(const QEvent* e) {
    const int n = int(e->type()) - int(QEvent::User);
    switch (n) {
        case kApplyBoardSettings:
        case kRenumberUnits:
        case kReloadStation:
        case kOpenEditor:
        case kEditorGone:
            return n;
        default:
            return 0;
    }
}
inline void postToolMessage(QObject* to, int message) {
    if (to) QCoreApplication::postEvent(to, new QEvent(toolMessageType(message)));
}

}  // namespace kalvo::tool::ui
