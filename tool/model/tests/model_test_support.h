// Model tables and networks for the model's tests.
#pragma once

#include <string>

#include "tool/model/model_table.h"
#include "tool/model/network_model.h"

namespace kalvo::tool::test {

// The example ModelTbl.ini installed beside the tool.
const ModelTable& exampleModels();
// Index of the first model with that code; fails the test when missing.
int32_t model(const ModelTable& models, const std::string& code);
// A model table from ini text written to a temporary file.
ModelTable tableFromText(const std::string& text);
// Slot 0 a board of kind, the others unused.
BoardSettings oneBoard(int32_t kind, int32_t baud = 3, int32_t longFrame = 0);

}  // namespace kalvo::tool::test
