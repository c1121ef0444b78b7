// CString: a counted wide string in non-paged pool, the form every name the
// I/O manager takes comes in (UNICODE_STRING). Concatenation and decimal
// formatting are all the driver needs to build "\Device\Tolva3".
#pragma once

#include <cstddef>

#include "kernel/wdm.h"

class CString {
  public:
    CString() = default;
    explicit CString(const WCHAR* text);
    CString(const CString& other);
    CString& operator=(const CString& other);
    ~CString();

    // Appends text, another string or a number in the given radix. A string
    // whose allocation failed stays empty and reports !IsValid().
    CString& Append(const WCHAR* text);
    CString& Append(const CString& other);
    CString& AppendNumber(ULONG value, ULONG radix = 10);
    // Appends chars characters (no terminator needed); false when the
    // string could not grow.
    bool Append(const WCHAR* text, size_t chars);

    bool IsValid() const { return valid_; }
    bool IsEmpty() const { return string_.Length == 0; }
    USHORT Length() const { return string_.Length; }  // in bytes
    const WCHAR* Buffer() const { return string_.Buffer; }
    bool EndsWith(WCHAR c) const;
    // The counted form for the I/O manager; always NUL-terminated as well.
    PUNICODE_STRING Unicode() { return &string_; }

  private:
    UNICODE_STRING string_{0, 0, nullptr};
    bool valid_ = true;
};
