
// The network editor's drop rules through its station places.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QTemporaryDir>

#include <vector>

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

// One row per drop rule: stations placed first, then a drop from the
// palette (type) or from another place (from), and what must follow.
struct DropCase {
    const char* name;
    std::vector<std::pair<int, int>> before;  // (address, type) from the palette
    int type;                                 // palette type dropped, or -1
    int from;                                 // place dragged from when type is -1
    int at;
    int beeps;
    int messages;
    std::vector<std::pair<int, int>> expect;  // (address, type) afterwards
    std::vector<int> continuation;            // addresses that must not be heads
};

TEST(EditorDrops, FollowThePlacementRules) {
    const DropCase cases[] = {
        {"AXS4 at 29 runs past 31", {}, kStaAxs4, -1, 29, 1, 0, {{29, kStaNew}}, {}},
        {"AXS2 at 10 onto MST at 11",
         {{11, kStaMst}},
         kStaAxs2,
         -1,
         10,
         1,
         0,
         {{10, kStaNew}, {11, kStaMst}},
         {}},
        {"AXS2 at 10 with 11 free",
         {},
         kStaAxs2,
         -1,
         10,
         0,
         0,
         {{10, kStaAxs2}, {11, kStaAxs2}},
         {11}},
        {"MST on AXS4 frees 5-7",
         {{4, kStaAxs4}},
         kStaMst,
         -1,
         4,
         0,
         0,
         {{4, kStaMst}, {5, kStaNew}, {6, kStaNew}, {7, kStaNew}},
         {}},
        {"NEW removes", {{4, kStaAxs4}}, kStaNew, -1, 4, 0, 0, {{4, kStaNew}, {7, kStaNew}}, {}},
        {"onto a continuation beeps",
         {{4, kStaAxs4}},
         kStaMst,
         -1,
         5,
         1,
         0,
         {{4, kStaAxs4}, {5, kStaAxs4}},
         {5}},
        {"a station onto itself", {{3, kStaAxs2}}, -1, 3, 3, 0, 0, {{3, kStaAxs2}}, {4}},
        {"onto its continuation", {{3, kStaAxs2}}, -1, 3, 4, 0, 0, {{3, kStaAxs2}}, {4}},
        {"duplicated to 9", {{3, kStaAxs2}}, -1, 3, 9, 0, 0, {{3, kStaAxs2}, {9, kStaAxs2}}, {10}},
    };
    for (const DropCase& c : cases) {
        SCOPED_TRACE(c.name);
        testing::Feedback feedback;
        QTemporaryDir dir;
        ToolSession session;
        MainForm main(session, QStringLiteral(KALVO_EXAMPLE_MODEL_TABLE));
        testing::whenModal<BoardSetUpDialog>([&](BoardSetUpDialog* d) {
            d->setDirectory(dir.path());
            d->next();
            d->rows().board[0]->setCurrentIndex(1);
            d->confirm();
        });
        main.fileNew();
        NetworkEditor* e = main.editor();
        ASSERT_NE(e, nullptr);
        for (auto [a, t] : c.before) testing::drag(main.palette()->headPicture(t), e->place(0, a));
        QWidget* from = c.type >= 0 ? static_cast<QWidget*>(main.palette()->headPicture(c.type))
                                    : e->place(0, c.from);
        testing::drag(from, e->place(0, c.at));
        EXPECT_EQ(feedback.Beeps, c.beeps);
        EXPECT_EQ(int(feedback.Messages.size()), c.messages);
        for (auto [a, t] : c.expect) {
            EXPECT_EQ(session.model.at(0, 0, a).StaType, t) << "address " << a;
            EXPECT_EQ(e->place(0, a)->staType(), t) << "picture " << a;
        }
        for (int a : c.continuation) EXPECT_FALSE(session.model.at(0, 0, a).Head) << a;
        session.closingByProgram = true;
        e->close();
    }
}

}  // namespace
}  // namespace kalvo::tool::ui
