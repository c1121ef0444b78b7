#include "driver/kstring.h"

#include <cstring>

#include "driver/pool_tag.h"

namespace {

constexpr ULONG kStringTag = kTagString;
constexpr size_t kMaxChars = 0x7FFE;  // a UNICODE_STRING counts bytes in 16 bits

size_t WideLength(const WCHAR* text) {
    size_t n = 0;
    if (text)
        while (text[n]) ++n;
    return n;
}

}  // namespace

CString::CString(const WCHAR* text) {
    Append(text);
}

CString::CString(const CString& other) : valid_(other.valid_) {
    Append(other.string_.Buffer, other.string_.Length / sizeof(WCHAR));
}

CString& CString::operator=(const CString& other) {
    if (this != &other) {
        if (string_.Buffer) ExFreePoolWithTag(string_.Buffer, kStringTag);
        string_ = UNICODE_STRING{0, 0, nullptr};
        valid_ = other.valid_;
        Append(other.string_.Buffer, other.string_.Length / sizeof(WCHAR));
    }
    return *this;
}

CString::~CString() {
    if (string_.Buffer) ExFreePoolWithTag(string_.Buffer, kStringTag);
    string_ = UNICODE_STRING{0, 0, nullptr};
}

CString& CString::Append(const WCHAR* text) {
    Append(text, WideLength(text));
    return *this;
}

CString& CString::Append(const CString& other) {
    if (!other.valid_) valid_ = false;
    Append(other.string_.Buffer, other.string_.Length / sizeof(WCHAR));
    return *this;
}

CString& CString::AppendNumber(ULONG value, ULONG radix) {
    if (radix < 2 || radix > 16) radix = 10;
    WCHAR digits[40];
    size_t n = 0;
    do {
        ULONG d = value % radix;
        digits[n++] = static_cast<WCHAR>(d < 10 ? u'0' + d : u'A' + d - 10);
        value /= radix;
    } while (value);
    WCHAR text[40];
    for (size_t i = 0; i < n; ++i) text[i] = digits[n - 1 - i];
    Append(text, n);
    return *this;
}

bool CString::EndsWith(WCHAR c) const {
    size_t n = string_.Length / sizeof(WCHAR);
    return n > 0 && string_.Buffer[n - 1] == c;
}

bool CString::Append(const WCHAR* text, size_t chars) {
    if (!valid_) return false;
    size_t have = string_.Length / sizeof(WCHAR);
    if (chars == 0 && string_.Buffer) return true;
    if (have + chars > kMaxChars) {
        valid_ = false;
        return false;
    }
    size_t total = have + chars;
    auto* buffer = static_cast<WCHAR*>(
        ExAllocatePoolWithTag(NonPagedPool, (total + 1) * sizeof(WCHAR), kStringTag));
    if (!buffer) {
        valid_ = false;
        return false;
    }
    if (have) std::memcpy(buffer, string_.Buffer, have * sizeof(WCHAR));
    if (chars) std::memcpy(buffer + have, text, chars * sizeof(WCHAR));
    buffer[total] = 0;
    if (string_.Buffer) ExFreePoolWithTag(string_.Buffer, kStringTag);
    string_.Buffer = buffer;
    string_.Length = static_cast<USHORT>(total * sizeof(WCHAR));
    string_.MaximumLength = static_cast<USHORT>((total + 1) * sizeof(WCHAR));
    return true;
}
