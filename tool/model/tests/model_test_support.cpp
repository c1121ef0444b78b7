#include "tool/model/tests/model_test_support.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace kalvo::tool::test {

const ModelTable& exampleModels() {
    static const ModelTable table = [] {
        ModelTable t;
        t.load(KALVO_EXAMPLE_MODEL_TABLE);
        return t;
    }();
    return table;
}

int32_t model(const ModelTable& models, const std::string& code) {
    int32_t i = models.findModel(code);
    EXPECT_GT(i, 0) << code;
    return i;
}

ModelTable tableFromText(const std::string& text) {
    kalvo::testing::TempDir dir;
    dir.write("ModelTbl.ini", text);
    ModelTable t;
    t.load(dir.file("ModelTbl.ini"));
    return t;
}

BoardSettings oneBoard(int32_t kind, int32_t baud, int32_t longFrame) {
    BoardSettings b{};
    b[0] = {1, kind, 1, {{{baud, longFrame}, {0, 0}}}};
    return b;
}

}  // namespace kalvo::tool::test
