#include "tool/ui/translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace kalvo::tool::ui {

bool installQtJapanese(QCoreApplication& app, QString* why) {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_ja"), folder)) {
        delete translator;
        if (why)
            *why = folder + QStringLiteral(
                                "/qtbase_ja.qm was not found (package "
                                "qt6-translations-l10n); Qt's buttons stay English");
        return false;
    }
    app.installTranslator(translator);
    return true;
}

}  // namespace kalvo::tool::ui
