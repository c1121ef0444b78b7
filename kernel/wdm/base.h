// Basic kernel types: integer and pointer types with their kernel names,
// NTSTATUS, counted strings, doubly linked lists and the memory helpers.
//
// Wide text is UTF-16 as in the kernel: WCHAR is char16_t (not wchar_t, which
// is 32 bits here), so a driver writes its names as u"\\Device\\Name" and
// every byte count of a UNICODE_STRING is the same as on the original system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/ntstatus.h"

#define KALVO_WDM_API [[gnu::visibility("default")]]

// Source annotations: the kernel headers' parameter markers, empty here.
#ifndef IN
#define IN
#endif
#ifndef OUT
#define OUT
#endif
#ifndef OPTIONAL
#define OPTIONAL
#endif
#ifndef _In_
#define _In_
#define _In_opt_
#define _Out_
#define _Out_opt_
#define _Inout_
#define _Inout_opt_
#endif
#ifndef NTAPI
#define NTAPI
#endif
#define UNREFERENCED_PARAMETER(P) ((void)(P))
#define PAGED_CODE() ((void)0)
#define FIELD_OFFSET(type, field) offsetof(type, field)
#define CONTAINING_RECORD(address, type, field) \
    (reinterpret_cast<type*>(reinterpret_cast<char*>(address) - offsetof(type, field)))
#define ARGUMENT_PRESENT(p) ((p) != nullptr)

typedef void VOID;
typedef void* PVOID;
typedef char CHAR;
typedef char* PCHAR;
typedef const char* PCSTR;
typedef char* PSTR;
typedef int8_t CCHAR;
typedef uint8_t UCHAR;
typedef uint8_t* PUCHAR;
typedef int16_t SHORT;
typedef int16_t CSHORT;
typedef uint16_t USHORT;
typedef uint16_t* PUSHORT;
typedef int32_t LONG;
typedef int32_t* PLONG;
typedef uint32_t ULONG;
typedef uint32_t* PULONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t* PULONG_PTR;
typedef size_t SIZE_T;
typedef size_t* PSIZE_T;
typedef uint8_t BOOLEAN;
typedef BOOLEAN* PBOOLEAN;
typedef char16_t WCHAR;
typedef WCHAR* PWCHAR;
typedef WCHAR* PWCH;
typedef WCHAR* PWSTR;
typedef const WCHAR* PCWSTR;
typedef const WCHAR* PCWCH;
typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef ULONG ACCESS_MASK;
typedef ULONG_PTR KAFFINITY;
typedef ULONG DEVICE_TYPE;
typedef UCHAR KIRQL;
typedef KIRQL* PKIRQL;
typedef CCHAR KPROCESSOR_MODE;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

// NTSTATUS values as the kernel defines them (those that also cross into user
// mode, with their Win32 translations, come from the platform layer).
using kalvo::platform::NT_SUCCESS;
using kalvo::platform::NTSTATUS;
typedef NTSTATUS* PNTSTATUS;
using kalvo::platform::STATUS_ACCESS_DENIED;
using kalvo::platform::STATUS_BUFFER_TOO_SMALL;
using kalvo::platform::STATUS_CANCELLED;
using kalvo::platform::STATUS_CONFLICTING_ADDRESSES;
using kalvo::platform::STATUS_DELETE_PENDING;
using kalvo::platform::STATUS_DEVICE_DOES_NOT_EXIST;
using kalvo::platform::STATUS_DEVICE_NOT_READY;
using kalvo::platform::STATUS_INSUFFICIENT_RESOURCES;
using kalvo::platform::STATUS_INVALID_DEVICE_REQUEST;
using kalvo::platform::STATUS_INVALID_HANDLE;
using kalvo::platform::STATUS_INVALID_PARAMETER;
using kalvo::platform::STATUS_NO_MEMORY;
using kalvo::platform::STATUS_NO_SUCH_DEVICE;
using kalvo::platform::STATUS_NOT_IMPLEMENTED;
using kalvo::platform::STATUS_NOT_MAPPED_VIEW;
using kalvo::platform::STATUS_NOT_SUPPORTED;
using kalvo::platform::STATUS_OBJECT_NAME_COLLISION;
using kalvo::platform::STATUS_OBJECT_NAME_INVALID;
using kalvo::platform::STATUS_OBJECT_NAME_NOT_FOUND;
using kalvo::platform::STATUS_OBJECT_PATH_NOT_FOUND;
using kalvo::platform::STATUS_PENDING;
using kalvo::platform::STATUS_SHARING_VIOLATION;
using kalvo::platform::STATUS_SUCCESS;
using kalvo::platform::STATUS_UNSUCCESSFUL;
inline constexpr NTSTATUS STATUS_WAIT_0 = 0x00000000;
inline constexpr NTSTATUS STATUS_TIMEOUT = 0x00000102;
inline constexpr NTSTATUS STATUS_OBJECT_TYPE_MISMATCH = static_cast<NTSTATUS>(0xC0000024);
inline constexpr NTSTATUS STATUS_BUFFER_OVERFLOW = static_cast<NTSTATUS>(0x80000005);
inline constexpr NTSTATUS STATUS_DEVICE_BUSY = static_cast<NTSTATUS>(0x80000011);
inline constexpr NTSTATUS STATUS_MORE_PROCESSING_REQUIRED = static_cast<NTSTATUS>(0xC0000016);
inline constexpr NTSTATUS STATUS_INVALID_PARAMETER_2 = static_cast<NTSTATUS>(0xC00000F0);
inline constexpr NTSTATUS STATUS_INVALID_DEVICE_STATE = static_cast<NTSTATUS>(0xC0000184);
inline constexpr NTSTATUS STATUS_DEVICE_REMOVED = static_cast<NTSTATUS>(0xC00002B6);
constexpr bool NT_ERROR(NTSTATUS status) {
    return static_cast<ULONG>(status) >> 30 == 3;
}
constexpr bool NT_WARNING(NTSTATUS status) {
    return static_cast<ULONG>(status) >> 30 == 2;
}

typedef union _LARGE_INTEGER {
    struct {
        ULONG LowPart;
        LONG HighPart;
    };
    struct {
        ULONG LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef union _ULARGE_INTEGER {
    struct {
        ULONG LowPart;
        ULONG HighPart;
    };
    struct {
        ULONG LowPart;
        ULONG HighPart;
    } u;
    ULONGLONG QuadPart;
} ULARGE_INTEGER, *PULARGE_INTEGER;

typedef LARGE_INTEGER PHYSICAL_ADDRESS, *PPHYSICAL_ADDRESS;

// Counted strings. Length and MaximumLength count bytes; the buffer need not
// be NUL-terminated.
typedef struct _UNICODE_STRING {
    USHORT Length;
    USHORT MaximumLength;
    PWSTR Buffer;
} UNICODE_STRING, *PUNICODE_STRING;
typedef const UNICODE_STRING* PCUNICODE_STRING;

typedef struct _STRING {
    USHORT Length;
    USHORT MaximumLength;
    PCHAR Buffer;
} STRING, ANSI_STRING, *PANSI_STRING, *PSTRING;
typedef const ANSI_STRING* PCANSI_STRING;

#define RTL_CONSTANT_STRING(s)                                                           \
    {                                                                                    \
        static_cast<USHORT>(sizeof(s) - sizeof((s)[0])), static_cast<USHORT>(sizeof(s)), \
            const_cast<PWSTR>(s)                                                         \
    }

typedef struct _LIST_ENTRY {
    struct _LIST_ENTRY* Flink;
    struct _LIST_ENTRY* Blink;
} LIST_ENTRY, *PLIST_ENTRY;

inline VOID InitializeListHead(PLIST_ENTRY head) {
    head->Flink = head->Blink = head;
}
inline BOOLEAN IsListEmpty(const LIST_ENTRY* head) {
    return head->Flink == head;
}
inline BOOLEAN RemoveEntryList(PLIST_ENTRY entry) {
    PLIST_ENTRY next = entry->Flink;
    PLIST_ENTRY prev = entry->Blink;
    prev->Flink = next;
    next->Blink = prev;
    return next == prev;
}
inline PLIST_ENTRY RemoveHeadList(PLIST_ENTRY head) {
    PLIST_ENTRY entry = head->Flink;
    RemoveEntryList(entry);
    return entry;
}
inline PLIST_ENTRY RemoveTailList(PLIST_ENTRY head) {
    PLIST_ENTRY entry = head->Blink;
    RemoveEntryList(entry);
    return entry;
}
inline VOID InsertTailList(PLIST_ENTRY head, PLIST_ENTRY entry) {
    PLIST_ENTRY last = head->Blink;
    entry->Flink = head;
    entry->Blink = last;
    last->Flink = entry;
    head->Blink = entry;
}
inline VOID InsertHeadList(PLIST_ENTRY head, PLIST_ENTRY entry) {
    PLIST_ENTRY first = head->Flink;
    entry->Flink = first;
    entry->Blink = head;
    first->Blink = entry;
    head->Flink = entry;
}

#define RtlZeroMemory(d, n) std::memset((d), 0, (n))
#define RtlFillMemory(d, n, f) std::memset((d), (f), (n))
#define RtlCopyMemory(d, s, n) std::memcpy((d), (s), (n))
#define RtlMoveMemory(d, s, n) std::memmove((d), (s), (n))
#define RtlEqualMemory(a, b, n) (std::memcmp((a), (b), (n)) == 0)

extern "C" {

// Bytes equal from the start.
KALVO_WDM_API SIZE_T RtlCompareMemory(const VOID* a, const VOID* b, SIZE_T length);

// Points the string at a NUL-terminated text (no copy); null gives an empty
// string.
KALVO_WDM_API VOID RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source);
KALVO_WDM_API VOID RtlInitAnsiString(PANSI_STRING destination, PCSTR source);
// Copies as much as fits into the destination's buffer.
KALVO_WDM_API VOID RtlCopyUnicodeString(PUNICODE_STRING destination, PCUNICODE_STRING source);
// STATUS_BUFFER_TOO_SMALL when the result would not fit.
KALVO_WDM_API NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING destination,
                                                      PCUNICODE_STRING source);
KALVO_WDM_API NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING destination, PCWSTR source);
KALVO_WDM_API LONG RtlCompareUnicodeString(PCUNICODE_STRING a, PCUNICODE_STRING b,
                                           BOOLEAN caseInsensitive);
KALVO_WDM_API BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING a, PCUNICODE_STRING b,
                                            BOOLEAN caseInsensitive);
// Base 2, 8, 10 or 16 (0 means 10); STATUS_BUFFER_OVERFLOW when the digits
// do not fit, STATUS_INVALID_PARAMETER for another base.
KALVO_WDM_API NTSTATUS RtlIntegerToUnicodeString(ULONG value, ULONG base, PUNICODE_STRING string);
KALVO_WDM_API NTSTATUS RtlUnicodeStringToInteger(PCUNICODE_STRING string, ULONG base, PULONG value);
// allocate: the destination buffer comes from pool and is released with
// RtlFreeUnicodeString / RtlFreeAnsiString. Characters outside ASCII become '?'.
KALVO_WDM_API NTSTATUS RtlAnsiStringToUnicodeString(PUNICODE_STRING destination,
                                                    PCANSI_STRING source, BOOLEAN allocate);
KALVO_WDM_API NTSTATUS RtlUnicodeStringToAnsiString(PANSI_STRING destination,
                                                    PCUNICODE_STRING source, BOOLEAN allocate);
KALVO_WDM_API VOID RtlFreeUnicodeString(PUNICODE_STRING string);
KALVO_WDM_API VOID RtlFreeAnsiString(PANSI_STRING string);

// Kernel debugger output: written to the host's standard error.
KALVO_WDM_API ULONG DbgPrint(PCSTR format, ...) __attribute__((format(printf, 1, 2)));
#define KdPrint(args) DbgPrint args

}  // extern "C"
