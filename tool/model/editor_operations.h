// The network editor's changes to the model, without any window: placing a
// station with the address check, removing, moving and duplicating by drag,
// the station dialog's module change, and applying changed board settings.
// Every change that succeeds renumbers the units.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "tool/model/network_model.h"
#include "tool/model/station_layout.h"

namespace kalvo::tool {

enum class DropResult {
    placed,
    ignored,         // not a head dragged, or dropped on itself
    onContinuation,  // the target is another station's continuation address
    overlap,         // the station would overlap another or run past address 31
};

// The placement check for the station at (slot, line, address) whose record
// was old and is now placed: needs its continuation addresses free of other
// stations' heads and within the line; frees old's continuation addresses and
// fills the new ones. False (nothing changed) on overlap.
bool placementCheck(ConfigModel& model, int slot, int line, int address, const TStaAddRec& placed,
                    const TStaAddRec& old);

// Drops the model's current station on (slot, line, address).
DropResult dropCurrent(ConfigModel& model, int slot, int line, int address);
// The palette's drag of a station type (NEW removes the station there).
DropResult placeStation(ConfigModel& model, int slot, int line, int address, int32_t staType);
DropResult removeStation(ConfigModel& model, int slot, int line, int address);
// Drag from one place to another: the station is copied there.
DropResult duplicateStation(ConfigModel& model, int slot, int line, int from, int to);
// Copy, then the source removed.
DropResult moveStation(ConfigModel& model, int slot, int line, int from, int to);

// Why a drop of the model's current station on (slot, line, address) was
// refused, for the status bar: "address 29: an AXS4 station needs 4 free
// addresses (29 to 32), and the line ends at 31". Empty for placed or
// ignored. Called right after the refused drop (the model is unchanged).
std::string dropRefusal(const ConfigModel& model, int slot, int line, int address,
                        DropResult result);

// Modules a station dialog combo may offer for a station type: entry 0, DIO
// and ADA models everywhere; SIO in module 1 only; AXSA on axis stations,
// RFID on RFID stations; never the shared input/output label.
bool moduleOffered(const ModelTable& models, int32_t staType, int module, int32_t index);

enum class ModulesResult {
    changed,
    notHead,
    fixedModules,
    notOffered,
    afterEnd,
    tooManyIds,
    overlap
};
struct ModulesOutcome {
    ModulesResult Result = ModulesResult::changed;
    std::string Message;  // what went wrong, for a person
};
// The station dialog closed with OK on the MST station at (slot, line,
// address) with these modules (model-list indexes, 0 ends the list): rows
// laid out, slots and address count stored, placement check against the
// record before; on any failure the network is as it was.
ModulesOutcome setStationModules(ConfigModel& model, int slot, int line, int address,
                                 const std::array<int32_t, kModules>& modules);

// The station dialog's live view while modules are chosen: the station at
// (slot, line, address) gets the modules' slots (no address check; OK does
// that through setStationModules) and the units are renumbered. Only MST
// stations change; the rows (with their shared labels) are those of
// layoutRows.
void previewStationModules(ConfigModel& model, int slot, int line, int address,
                           const StationRows& rows, const std::array<int32_t, kModules>& modules);

// The hardware settings changed the board slots: a slot that became unused
// loses its stations; the others take the new number, kind and line
// settings; the board count follows.
void applyBoardSettings(ConfigModel& model, const BoardSettings& changed);

// Board settings as the setup dialogs build them from per-slot choices:
// BoardNo counted over the slots whose kind has lines.
BoardSettings boardSettingsFromKinds(const std::array<int32_t, kBoardSlots>& kinds,
                                     const std::array<TLineSetRec, kBoardSlots>& lines);
// The hardware settings dialog's choices for the open model: as above, but a
// slot left "not used" that holds a board the tool did not understand keeps
// that board (counted, without lines), so it is never dropped unasked.
BoardSettings boardSettingsFromDialog(const ConfigModel& model,
                                      const std::array<int32_t, kBoardSlots>& kinds,
                                      const std::array<TLineSetRec, kBoardSlots>& lines);

// Only the last board in use may be set to "not used": the later slots
// whose chosen kind has lines, which keep slot from being set so (empty when
// none does).
std::vector<int> laterBoardsInUse(const std::array<int32_t, kBoardSlots>& kinds, int slot);

// The baud rate of a baud combo's item (0, 1, 2: 3, 6, 12 Mbit/s); otherwise
// for any other item.
int32_t baudFromItem(int item, int32_t otherwise);
// The combo item of a baud rate; -1 for a rate the combo does not offer.
int baudItem(int32_t baudrate);

}  // namespace kalvo::tool
