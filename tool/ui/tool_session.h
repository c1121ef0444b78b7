// What the tool's windows share for one run: the model table, the one
// network model, the mode of the board setup dialog and the main window's
// closing-by-program flag.
#pragma once

#include <QString>

#include "tool/model/model_table.h"
#include "tool/model/network_model.h"

namespace kalvo::tool::ui {

enum class ToolMode { createNew = 0, openExisting = 1 };

struct ToolSession {
    ModelTable models;
    ConfigModel model{models};
    ToolMode mode = ToolMode::createNew;
    // Set while the program itself closes the editor (board settings
    // removed every board, or the main window is closing after its own
    // question): the editor then asks nothing.
    bool closingByProgram = false;

    // Reads the model table and rebuilds the templates on it. A missing
    // table leaves entry 0 alone, so stations simply have no modules.
    void loadModelTable(const QString& path) {
        models.load(path.toStdString());
        model = ConfigModel(models);
    }
};

}  // namespace kalvo::tool::ui
