// What the tool's windows share for one run: the model table, the one
// network model, the mode of the board setup dialog, the board settings the
// hardware settings dialog hands to the editor, and the main window's
// closing-by-program flag.
#pragma once

#include <QString>

#include "tool/model/model_table.h"
#include "tool/model/network_model.h"

namespace kalvo::tool::ui {

enum class ToolMode { createNew = 0, openExisting = 1, chooseFolder = 2 };

struct ToolSession {
    ModelTable models;
    ConfigModel model{models};
    ToolMode mode = ToolMode::createNew;
    // Set while the program itself closes the editor (board settings
    // removed every board, or the main window is closing after its own
    // question): the editor then asks nothing.
    bool closingByProgram = false;
    // The hardware settings dialog's confirmed boards, applied by the editor
    // (message 1124) or by the main window opening one (message 1145).
    BoardSettings pendingBoards{};

    // The model table in use, where it was found and how it read.
    ModelTableLocation modelTable;
    ModelTable::Source modelSource = ModelTable::Source::missing;
    // The installed table, the fallback of every folder without its own.
    std::string installedModelTable;

    // Uses the model table of folder (its own, else the installed one) and
    // rebuilds the templates on it, keeping the folder and the boards. Only
    // while no editor holds stations: they name models by index. True when
    // the table changed.
    bool useModelTableOf(const std::string& folder) {
        const ModelTableLocation where = locateModelTable(folder, installedModelTable);
        if (where.Path == modelTable.Path && modelSource != ModelTable::Source::missing)
            return false;
        const BoardSettings boards = model.boards();
        const int32_t count = model.boardCount();
        const std::string chosen = model.folder();
        modelTable = where;
        modelSource = models.load(where.Path);
        model = ConfigModel(models);
        model.boards() = boards;
        model.setBoardCount(count);
        model.setFolder(chosen);
        return true;
    }
    QString modelTableText() const {
        return QString::fromStdString(describeModelTable(modelTable, modelSource));
    }
};

}  // namespace kalvo::tool::ui
