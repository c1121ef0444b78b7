// Counted-string and memory helpers of the runtime library.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "kernel/wdm.h"
#include "kernel/wide_text.h"

using namespace kalvo::kernel;

namespace {

USHORT byteLength(size_t chars) {
    size_t bytes = chars * sizeof(WCHAR);
    return USHORT(bytes > 0xFFFC ? 0xFFFC : bytes);
}

}  // namespace

extern "C" {

SIZE_T RtlCompareMemory(const VOID* a, const VOID* b, SIZE_T length) {
    auto* p = static_cast<const unsigned char*>(a);
    auto* q = static_cast<const unsigned char*>(b);
    SIZE_T n = 0;
    while (n < length && p[n] == q[n]) ++n;
    return n;
}

VOID RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source) {
    if (!destination) return;
    size_t chars = source ? terminated(source, 0x7FFE).size() : 0;
    destination->Buffer = const_cast<PWSTR>(source);
    destination->Length = byteLength(chars);
    destination->MaximumLength = source ? USHORT(destination->Length + sizeof(WCHAR)) : 0;
}

VOID RtlInitAnsiString(PANSI_STRING destination, PCSTR source) {
    if (!destination) return;
    size_t chars = source ? strnlen(source, 0xFFFE) : 0;
    destination->Buffer = const_cast<PCHAR>(source);
    destination->Length = USHORT(chars);
    destination->MaximumLength = source ? USHORT(chars + 1) : 0;
}

VOID RtlCopyUnicodeString(PUNICODE_STRING destination, PCUNICODE_STRING source) {
    if (!destination) return;
    auto text = view(source);
    if (!source || !destination->Buffer) {
        destination->Length = 0;
        return;
    }
    size_t bytes = text.size() * sizeof(WCHAR);
    if (bytes > destination->MaximumLength) bytes = destination->MaximumLength & ~size_t(1);
    std::memmove(destination->Buffer, text.data(), bytes);
    destination->Length = USHORT(bytes);
    if (bytes + sizeof(WCHAR) <= destination->MaximumLength)
        destination->Buffer[bytes / sizeof(WCHAR)] = 0;
}

NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING destination, PCUNICODE_STRING source) {
    if (!destination) return STATUS_INVALID_PARAMETER;
    auto text = view(source);
    size_t have = destination->Length;
    size_t bytes = text.size() * sizeof(WCHAR);
    if (bytes == 0) return STATUS_SUCCESS;
    if (!destination->Buffer || have + bytes > destination->MaximumLength)
        return STATUS_BUFFER_TOO_SMALL;
    std::memmove(reinterpret_cast<char*>(destination->Buffer) + have, text.data(), bytes);
    destination->Length = USHORT(have + bytes);
    if (destination->Length + sizeof(WCHAR) <= destination->MaximumLength)
        destination->Buffer[destination->Length / sizeof(WCHAR)] = 0;
    return STATUS_SUCCESS;
}

NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING destination, PCWSTR source) {
    UNICODE_STRING s;
    RtlInitUnicodeString(&s, source);
    return RtlAppendUnicodeStringToString(destination, &s);
}

LONG RtlCompareUnicodeString(PCUNICODE_STRING a, PCUNICODE_STRING b, BOOLEAN caseInsensitive) {
    auto x = view(a);
    auto y = view(b);
    size_t n = x.size() < y.size() ? x.size() : y.size();
    for (size_t i = 0; i < n; ++i) {
        char16_t c = caseInsensitive ? upcase(x[i]) : x[i];
        char16_t d = caseInsensitive ? upcase(y[i]) : y[i];
        if (c != d) return LONG(c) - LONG(d);
    }
    return LONG(x.size()) - LONG(y.size());
}

BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING a, PCUNICODE_STRING b, BOOLEAN caseInsensitive) {
    auto x = view(a);
    auto y = view(b);
    if (x.size() != y.size()) return FALSE;
    return (caseInsensitive ? equalNoCase(x, y) : x == y) ? TRUE : FALSE;
}

NTSTATUS RtlIntegerToUnicodeString(ULONG value, ULONG base, PUNICODE_STRING string) {
    if (base == 0) base = 10;
    if (base != 2 && base != 8 && base != 10 && base != 16) return STATUS_INVALID_PARAMETER;
    if (!string) return STATUS_INVALID_PARAMETER;
    WCHAR digits[33];
    size_t n = 0;
    do {
        ULONG d = value % base;
        digits[n++] = WCHAR(d < 10 ? u'0' + d : u'A' + d - 10);
        value /= base;
    } while (value != 0);
    if (!string->Buffer || (n + 1) * sizeof(WCHAR) > string->MaximumLength)
        return STATUS_BUFFER_OVERFLOW;
    for (size_t i = 0; i < n; ++i) string->Buffer[i] = digits[n - 1 - i];
    string->Buffer[n] = 0;
    string->Length = USHORT(n * sizeof(WCHAR));
    return STATUS_SUCCESS;
}

NTSTATUS RtlUnicodeStringToInteger(PCUNICODE_STRING string, ULONG base, PULONG value) {
    if (!value) return STATUS_INVALID_PARAMETER;
    auto text = view(string);
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
    if (base == 0) {
        base = 10;
        if (i + 1 < text.size() && text[i] == u'0') {
            char16_t p = text[i + 1];
            if (p == u'x') base = 16;
            if (p == u'o') base = 8;
            if (p == u'b') base = 2;
            if (base != 10) i += 2;
        }
    } else if (base != 2 && base != 8 && base != 10 && base != 16) {
        return STATUS_INVALID_PARAMETER;
    }
    ULONG result = 0;
    for (; i < text.size(); ++i) {
        char16_t c = upcase(text[i]);
        ULONG d;
        if (c >= u'0' && c <= u'9')
            d = c - u'0';
        else if (c >= u'A' && c <= u'F')
            d = c - u'A' + 10;
        else
            break;
        if (d >= base) break;
        result = result * base + d;
    }
    *value = negative ? ULONG(0) - result : result;
    return STATUS_SUCCESS;
}

NTSTATUS RtlAnsiStringToUnicodeString(PUNICODE_STRING destination, PCANSI_STRING source,
                                      BOOLEAN allocate) {
    if (!destination || !source) return STATUS_INVALID_PARAMETER;
    size_t chars = source->Buffer ? source->Length : 0;
    size_t bytes = chars * sizeof(WCHAR);
    if (bytes + sizeof(WCHAR) > 0xFFFE) return STATUS_INVALID_PARAMETER;
    if (allocate) {
        destination->Buffer = static_cast<PWSTR>(ExAllocatePool(PagedPool, bytes + sizeof(WCHAR)));
        if (!destination->Buffer) return STATUS_NO_MEMORY;
        destination->MaximumLength = USHORT(bytes + sizeof(WCHAR));
    } else if (!destination->Buffer || destination->MaximumLength < bytes) {
        return STATUS_BUFFER_OVERFLOW;
    }
    for (size_t i = 0; i < chars; ++i) {
        auto c = static_cast<unsigned char>(source->Buffer[i]);
        destination->Buffer[i] = c < 0x80 ? WCHAR(c) : u'?';
    }
    destination->Length = USHORT(bytes);
    if (bytes + sizeof(WCHAR) <= destination->MaximumLength) destination->Buffer[chars] = 0;
    return STATUS_SUCCESS;
}

NTSTATUS RtlUnicodeStringToAnsiString(PANSI_STRING destination, PCUNICODE_STRING source,
                                      BOOLEAN allocate) {
    if (!destination) return STATUS_INVALID_PARAMETER;
    auto text = view(source);
    size_t chars = text.size();
    if (allocate) {
        destination->Buffer = static_cast<PCHAR>(ExAllocatePool(PagedPool, chars + 1));
        if (!destination->Buffer) return STATUS_NO_MEMORY;
        destination->MaximumLength = USHORT(chars + 1);
    } else if (!destination->Buffer || destination->MaximumLength < chars) {
        return STATUS_BUFFER_OVERFLOW;
    }
    for (size_t i = 0; i < chars; ++i)
        destination->Buffer[i] = text[i] < 0x80 ? char(text[i]) : '?';
    destination->Length = USHORT(chars);
    if (chars + 1 <= destination->MaximumLength) destination->Buffer[chars] = 0;
    return STATUS_SUCCESS;
}

VOID RtlFreeUnicodeString(PUNICODE_STRING string) {
    if (!string) return;
    ExFreePool(string->Buffer);
    string->Buffer = nullptr;
    string->Length = string->MaximumLength = 0;
}

VOID RtlFreeAnsiString(PANSI_STRING string) {
    if (!string) return;
    ExFreePool(string->Buffer);
    string->Buffer = nullptr;
    string->Length = string->MaximumLength = 0;
}

ULONG DbgPrint(PCSTR format, ...) {
    if (!format) return 0;
    static const bool enabled = std::getenv("KALVO_KERNEL_DEBUG") != nullptr;
    if (!enabled) return 0;
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    return 0;
}

}  // extern "C"
