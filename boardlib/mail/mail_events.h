// Names of a board line's mail objects, and the line's five named events.
//
// The events carry no library prefix, so every board library that serves the
// same board line (in any process) shares them: "MailRecv1_0" (base name and
// board) and the line give "MailRecv1_00_MailEve".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "boardlib/mail/mail_poll.h"

namespace kalvo::platform {
class Event;
}

namespace kalvo::boardlib::mail {

inline constexpr size_t kNameRoom = 260;

// "MailRecv1", "MailRecv2", "MailSeRes", "MailClose", "MailError".
const char* mailEventBase(int index) noexcept;

// "<base>_<board>", e.g. MailRecv1_0.
void formatEventBaseName(char (&out)[kNameRoom], int index, int32_t board) noexcept;
// "<base name><line>_MailEve", e.g. MailRecv1_00_MailEve.
void formatEventName(char (&out)[kNameRoom], const char* baseName, int32_t line) noexcept;
// "<prefix><line>_Mutx", e.g. KVMBrd00_Mutx.
void formatMutexName(char (&out)[kNameRoom], const char* prefix, int32_t line) noexcept;

// The line's events with their names. Each handle is shared, so a waiter
// that took its references keeps the objects open while the closing
// sequence drops the set's own references.
struct MailEventSet {
    char baseName[kMailEventCount][kNameRoom] = {};
    char name[kMailEventCount][kNameRoom] = {};
    std::shared_ptr<platform::Event> event[kMailEventCount];
};

}  // namespace kalvo::boardlib::mail
