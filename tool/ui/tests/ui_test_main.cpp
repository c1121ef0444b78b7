// One application for all GUI tests; Qt's offscreen platform unless the run
// chose another (the Xvfb run uses xcb).
#include <gtest/gtest.h>

#include <QApplication>

#include "tool/ui/translation.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                    : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    // As the program does: Qt's own buttons in Japanese.
    kalvo::tool::ui::installQtJapanese(app);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
