#include <gtest/gtest.h>

#include "sim/units/remote_unit.h"

namespace kalvo::sim {
namespace {

TEST(UnitFactory, RefusesUnknownFamiliesAndOffsetListsTheFamilyCannotUse) {
    struct Case {
        std::string family;
        std::vector<int> offsets;
    };
    for (const Case& c : std::vector<Case>{{"ENC", {0}},
                                           {"", {0}},
                                           {"DIO", {}},
                                           {"DIO", {16}},
                                           {"DIO", {-1}},
                                           {"DIO", std::vector<int>(17, 0)},
                                           {"AXSA", {0, 1, 2}},
                                           {"AXSA", {2, 3, 4, 5}},
                                           {"SIO", {0, 1, 2, 3, 5, 6, 7, 8}}}) {
        std::string error;
        EXPECT_EQ(makeRemoteUnit(c.family, c.offsets, "", &error), nullptr) << c.family;
        EXPECT_FALSE(error.empty()) << c.family;
    }
    std::string error;
    auto unit = makeRemoteUnit("dio", {0, 1}, "DIO", &error);
    ASSERT_NE(unit, nullptr) << error;
    EXPECT_EQ(unit->family(), "DIO");
    EXPECT_EQ(unit->offsets(), (std::vector<int>{0, 1}));
}

TEST(EchoPeer, SendsEveryMailBackToItsSender) {
    auto echo = makeEchoPeer(5);
    Mail mail{9, 5, std::vector<uint8_t>(256)};
    for (size_t i = 0; i < mail.data.size(); ++i) mail.data[i] = static_cast<uint8_t>(i * 7);
    auto answers = echo->receive(mail);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].source, 5);
    EXPECT_EQ(answers[0].destination, 9);
    EXPECT_EQ(answers[0].data, mail.data);
}

}  // namespace
}  // namespace kalvo::sim
