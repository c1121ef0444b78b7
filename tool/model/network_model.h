// The tool's one network description: board settings, the station records
// of every address of every board line, the station templates, the board
// count and the configuration folder. Built on a model table that outlives
// it.
#pragma once

#include <array>
#include <string>

#include "tool/model/model_table.h"
#include "tool/model/model_types.h"

namespace kalvo::tool {

class ConfigModel {
  public:
    explicit ConfigModel(const ModelTable& models);

    const ModelTable& models() const { return *models_; }

    // One per station type. A template whose special model is missing from
    // the table has no modules and is not available for placing.
    const TStaAddRec& stationTemplate(int32_t staType) const;
    bool templateAvailable(int32_t staType) const;
    // Template 0 with its own address: what an empty address holds.
    TStaAddRec emptyAddress(int32_t address) const;

    // Every address of every board gets an empty record.
    void clearNetwork();
    // New configuration: the boards by slot (BoardNo counted over the used
    // slots), an empty network.
    void startNew(const BoardSettings& boards);

    TStaAddRec& at(int slot, int line, int address) {
        return network_[size_t(slot)][size_t(line)][size_t(address)];
    }
    const TStaAddRec& at(int slot, int line, int address) const {
        return network_[size_t(slot)][size_t(line)][size_t(address)];
    }
    Network& network() { return network_; }
    const Network& network() const { return network_; }

    BoardSettings& boards() { return boards_; }
    const BoardSettings& boards() const { return boards_; }
    // Slot of a board number, -1 when no used slot has it.
    int slotOfBoard(int32_t boardNo) const;
    int32_t boardCount() const { return boardCount_; }
    void setBoardCount(int32_t count) { boardCount_ = count; }
    // Line pages the editor shows: the lines of every used slot.
    int pageCount() const;

    const std::string& folder() const { return folder_; }
    void setFolder(std::string folder) { folder_ = std::move(folder); }

    // A board slot whose section in Kalvo.ini this tool did not understand
    // (a Kind it does not know, a LineMax no kind has, a missing section):
    // why, naming the section; empty for a board it understands. Its
    // stations were not loaded, so a save would replace them with nothing:
    // the save refuses until the slot is given a kind (or removed).
    const std::string& boardNotUnderstood(int slot) const { return notUnderstood_[size_t(slot)]; }
    void setBoardNotUnderstood(int slot, std::string why) {
        notUnderstood_[size_t(slot)] = std::move(why);
    }

    // The record being dragged or edited.
    TStaAddRec current;

  private:
    const ModelTable* models_;
    std::array<TStaAddRec, kStationTypes> templates_;
    std::array<bool, kStationTypes> available_{};
    Network network_;
    BoardSettings boards_{};
    int32_t boardCount_ = 0;
    std::string folder_;
    std::array<std::string, kBoardSlots> notUnderstood_;

    void buildTemplates();
};

// The addresses the station whose head is at address covers: the head and
// the continuation addresses after it (1 for a head alone).
int stationExtent(const ConfigModel& model, int slot, int line, int address);

// A slot record holding model-list entry index (Info and Info2 copies).
void setSlotUnit(TKVStlRec& slot, const ModelTable& models, int32_t index);

}  // namespace kalvo::tool
