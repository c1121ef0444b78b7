// Qt's own texts (the standard buttons of message boxes and dialogs) in
// Japanese, like the tool's, from Qt's translation of its base library.
#pragma once

#include <QString>

class QCoreApplication;

namespace kalvo::tool::ui {

// Installs qtbase_ja from Qt's translation folder. False, with *why naming
// the file looked for, when it is not there (the buttons then stay English).
bool installQtJapanese(QCoreApplication& app, QString* why = nullptr);

}  // namespace kalvo::tool::ui
