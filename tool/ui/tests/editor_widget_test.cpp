
// The network editor's drop rules through its station places.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "tool/ui/board_dialogs.h"
#include "tool/ui/main_form.h"
#include "tool/ui/tests/ui_test_support.h"

namespace kalvo::tool::ui {
namespace {

TEST(EditorDrops, PalettePressMakesTheTemplateCurrent) {
    testing::Feedback feedback;
    ToolSession session;
    MainForm main(session, QStringLiteral(KALVO_EXAMPLE_MODEL_TABLE));
    main.palette()->show();
    QTest::mousePress(main.palette()->headPicture(kStaMst), Qt::LeftButton, {}, QPoint(8, 8));
    EXPECT_EQ(session.model.current.StaType, kStaMst);
}

}  // namespace
}  // namespace kalvo::tool::ui
