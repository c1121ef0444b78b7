#include "boardlib/mail/mail_events.h"

#include <cstdio>

namespace kalvo::boardlib::mail {

const char* mailEventBase(int index) noexcept {
    static constexpr const char* kBases[kMailEventCount] = {"MailRecv1", "MailRecv2", "MailSeRes",
                                                            "MailClose", "MailError"};
    return index >= 0 && index < kMailEventCount ? kBases[index] : "";
}

void formatEventBaseName(char (&out)[kNameRoom], int index, int32_t board) noexcept {
    std::snprintf(out, sizeof out, "%s_%d", mailEventBase(index), static_cast<int>(board));
}

void formatEventName(char (&out)[kNameRoom], const char* baseName, int32_t line) noexcept {
    std::snprintf(out, sizeof out, "%s%d_MailEve", baseName, static_cast<int>(line));
}

void formatMutexName(char (&out)[kNameRoom], const char* prefix, int32_t line) noexcept {
    std::snprintf(out, sizeof out, "%s%d_Mutx", prefix, static_cast<int>(line));
}

}  // namespace kalvo::boardlib::mail
