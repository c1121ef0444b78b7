// System services a board driver uses besides the I/O manager: mapping bus
// memory, the physical-memory section with views in the calling process,
// register access, the registry and the error log.
#pragma once

#include "kernel/wdm/base.h"
#include "kernel/wdm/io.h"

// --- Bus memory and registers -------------------------------------------

typedef enum _MEMORY_CACHING_TYPE {
    MmNonCached = 0,
    MmCached = 1,
    MmWriteCombined = 2
} MEMORY_CACHING_TYPE;

extern "C" {

// A system-space address for a bus range (through the host's hardware),
// null when the range is not backed by a board.
KALVO_WDM_API PVOID MmMapIoSpace(PHYSICAL_ADDRESS physicalAddress, SIZE_T numberOfBytes,
                                 MEMORY_CACHING_TYPE cacheType);
KALVO_WDM_API VOID MmUnmapIoSpace(PVOID baseAddress, SIZE_T numberOfBytes);

// Register access through an MmMapIoSpace mapping. Each access is one
// volatile load or store of its width; a store is then reported to the
// hardware with its bus address, so that a board model can react at once.
KALVO_WDM_API UCHAR READ_REGISTER_UCHAR(volatile UCHAR* registerAddress);
KALVO_WDM_API USHORT READ_REGISTER_USHORT(volatile USHORT* registerAddress);
KALVO_WDM_API ULONG READ_REGISTER_ULONG(volatile ULONG* registerAddress);
KALVO_WDM_API VOID WRITE_REGISTER_UCHAR(volatile UCHAR* registerAddress, UCHAR value);
KALVO_WDM_API VOID WRITE_REGISTER_USHORT(volatile USHORT* registerAddress, USHORT value);
KALVO_WDM_API VOID WRITE_REGISTER_ULONG(volatile ULONG* registerAddress, ULONG value);

}  // extern "C"

// --- Object attributes, sections and views -------------------------------

#define OBJ_INHERIT 0x00000002
#define OBJ_PERMANENT 0x00000010
#define OBJ_EXCLUSIVE 0x00000020
#define OBJ_CASE_INSENSITIVE 0x00000040
#define OBJ_OPENIF 0x00000080
#define OBJ_KERNEL_HANDLE 0x00000200

typedef struct _OBJECT_ATTRIBUTES {
    ULONG Length;
    HANDLE RootDirectory;
    PUNICODE_STRING ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
} OBJECT_ATTRIBUTES, *POBJECT_ATTRIBUTES;

#define InitializeObjectAttributes(p, n, a, r, s) \
    do {                                          \
        (p)->Length = sizeof(OBJECT_ATTRIBUTES);  \
        (p)->RootDirectory = (r);                 \
        (p)->Attributes = (a);                    \
        (p)->ObjectName = (n);                    \
        (p)->SecurityDescriptor = (s);            \
        (p)->SecurityQualityOfService = nullptr;  \
    } while (0)

#define SECTION_QUERY 0x0001
#define SECTION_MAP_WRITE 0x0002
#define SECTION_MAP_READ 0x0004
#define SECTION_MAP_EXECUTE 0x0008
#define SECTION_EXTEND_SIZE 0x0010
#define SECTION_ALL_ACCESS 0x000F001F

#define PAGE_NOACCESS 0x01
#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#define PAGE_NOCACHE 0x200
#define PAGE_WRITECOMBINE 0x400

typedef enum _SECTION_INHERIT { ViewShare = 1, ViewUnmap = 2 } SECTION_INHERIT;

// The process the current request comes from.
#define NtCurrentProcess() (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))
#define ZwCurrentProcess() NtCurrentProcess()

extern "C" {

// Only "\Device\PhysicalMemory" exists.
KALVO_WDM_API NTSTATUS ZwOpenSection(PHANDLE sectionHandle, ACCESS_MASK desiredAccess,
                                     POBJECT_ATTRIBUTES objectAttributes);
// Maps a view of physical memory into the current process (the caller of
// the request being served; the host itself outside a request). The
// section offset is moved down to the 64 KiB allocation granularity and
// reported back; the view size grows by the same amount and is rounded up
// to whole pages. *baseAddress must be null on entry (the system chooses).
KALVO_WDM_API NTSTATUS ZwMapViewOfSection(HANDLE sectionHandle, HANDLE processHandle,
                                          PVOID* baseAddress, ULONG_PTR zeroBits, SIZE_T commitSize,
                                          PLARGE_INTEGER sectionOffset, PSIZE_T viewSize,
                                          SECTION_INHERIT inheritDisposition, ULONG allocationType,
                                          ULONG win32Protect);
KALVO_WDM_API NTSTATUS ZwUnmapViewOfSection(HANDLE processHandle, PVOID baseAddress);
KALVO_WDM_API NTSTATUS ZwClose(HANDLE handle);

}  // extern "C"

// --- Registry -------------------------------------------------------------

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define RTL_REGISTRY_ABSOLUTE 0
#define RTL_REGISTRY_SERVICES 1
#define RTL_REGISTRY_CONTROL 2
#define RTL_REGISTRY_OPTIONAL 0x80000000

#define RTL_QUERY_REGISTRY_SUBKEY 0x00000001
#define RTL_QUERY_REGISTRY_TOPKEY 0x00000002
#define RTL_QUERY_REGISTRY_REQUIRED 0x00000004
#define RTL_QUERY_REGISTRY_NOVALUE 0x00000008
#define RTL_QUERY_REGISTRY_NOEXPAND 0x00000010
#define RTL_QUERY_REGISTRY_DIRECT 0x00000020
#define RTL_QUERY_REGISTRY_DELETE 0x00000040
#define RTL_QUERY_REGISTRY_TYPECHECK 0x00000100
// With TYPECHECK, the top byte of DefaultType is the type the value must have
// (a direct read of another type is refused with STATUS_OBJECT_TYPE_MISMATCH
// rather than written over EntryContext); the low bytes are the default's type.
#define RTL_QUERY_REGISTRY_TYPECHECK_SHIFT 24
#define RTL_QUERY_REGISTRY_TYPECHECK_MASK (0xFFu << RTL_QUERY_REGISTRY_TYPECHECK_SHIFT)

typedef NTSTATUS RTL_QUERY_REGISTRY_ROUTINE(PWSTR ValueName, ULONG ValueType, PVOID ValueData,
                                            ULONG ValueLength, PVOID Context, PVOID EntryContext);
typedef RTL_QUERY_REGISTRY_ROUTINE* PRTL_QUERY_REGISTRY_ROUTINE;

// A table ends with an entry whose QueryRoutine and Name are both null.
typedef struct _RTL_QUERY_REGISTRY_TABLE {
    PRTL_QUERY_REGISTRY_ROUTINE QueryRoutine;
    ULONG Flags;
    PWSTR Name;
    PVOID EntryContext;
    ULONG DefaultType;
    PVOID DefaultData;
    ULONG DefaultLength;
} RTL_QUERY_REGISTRY_TABLE, *PRTL_QUERY_REGISTRY_TABLE;

extern "C" {

// Reads values under a key of the host's registry file. With
// RTL_QUERY_REGISTRY_DIRECT a REG_DWORD lands in the ULONG at EntryContext
// and a REG_SZ in the UNICODE_STRING there (allocated when its buffer is
// null). A missing value is skipped (or its default used) unless it is
// required (STATUS_OBJECT_NAME_NOT_FOUND); a missing key gives
// STATUS_OBJECT_NAME_NOT_FOUND.
KALVO_WDM_API NTSTATUS RtlQueryRegistryValues(ULONG relativeTo, PCWSTR path,
                                              PRTL_QUERY_REGISTRY_TABLE queryTable, PVOID context,
                                              PVOID environment);

}  // extern "C"

// --- Error log --------------------------------------------------------------

#define ERROR_LOG_MAXIMUM_SIZE 240

typedef struct _IO_ERROR_LOG_PACKET {
    UCHAR MajorFunctionCode;
    UCHAR RetryCount;
    USHORT DumpDataSize;
    USHORT NumberOfStrings;
    USHORT StringOffset;  // from the start of the packet to the first string
    USHORT EventCategory;
    NTSTATUS ErrorCode;
    ULONG UniqueErrorValue;
    NTSTATUS FinalStatus;
    ULONG SequenceNumber;
    ULONG IoControlCode;
    LARGE_INTEGER DeviceOffset;
    ULONG DumpData[1];
} IO_ERROR_LOG_PACKET, *PIO_ERROR_LOG_PACKET;

extern "C" {

// A zeroed entry of entrySize bytes (at least the packet, at most
// ERROR_LOG_MAXIMUM_SIZE) for a device or driver object; null otherwise.
// The insertion strings are NUL-terminated wide strings placed after the
// packet (StringOffset, NumberOfStrings).
KALVO_WDM_API PVOID IoAllocateErrorLogEntry(PVOID ioObject, UCHAR entrySize);
// Hands the entry to the host's error log; the entry belongs to it then.
KALVO_WDM_API VOID IoWriteErrorLogEntry(PVOID elEntry);
KALVO_WDM_API VOID IoFreeErrorLogEntry(PVOID elEntry);

}  // extern "C"
