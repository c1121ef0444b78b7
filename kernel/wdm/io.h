// The I/O manager's objects: driver objects, device objects, file objects,
// IRPs with their stack locations, and the calls that build device stacks,
// name devices, pass requests down and complete them.
#pragma once

#include "kernel/wdm/base.h"
#include "kernel/wdm/resources.h"
#include "kernel/wdm/sync.h"

#define IRP_MJ_CREATE 0x00
#define IRP_MJ_CREATE_NAMED_PIPE 0x01
#define IRP_MJ_CLOSE 0x02
#define IRP_MJ_READ 0x03
#define IRP_MJ_WRITE 0x04
#define IRP_MJ_QUERY_INFORMATION 0x05
#define IRP_MJ_SET_INFORMATION 0x06
#define IRP_MJ_FLUSH_BUFFERS 0x09
#define IRP_MJ_DEVICE_CONTROL 0x0e
#define IRP_MJ_INTERNAL_DEVICE_CONTROL 0x0f
#define IRP_MJ_SHUTDOWN 0x10
#define IRP_MJ_CLEANUP 0x12
#define IRP_MJ_POWER 0x16
#define IRP_MJ_SYSTEM_CONTROL 0x17
#define IRP_MJ_PNP 0x1b
#define IRP_MJ_MAXIMUM_FUNCTION 0x1b

#define IRP_MN_START_DEVICE 0x00
#define IRP_MN_QUERY_REMOVE_DEVICE 0x01
#define IRP_MN_REMOVE_DEVICE 0x02
#define IRP_MN_CANCEL_REMOVE_DEVICE 0x03
#define IRP_MN_STOP_DEVICE 0x04
#define IRP_MN_QUERY_STOP_DEVICE 0x05
#define IRP_MN_CANCEL_STOP_DEVICE 0x06
#define IRP_MN_QUERY_DEVICE_RELATIONS 0x07
#define IRP_MN_QUERY_INTERFACE 0x08
#define IRP_MN_QUERY_CAPABILITIES 0x09
#define IRP_MN_QUERY_RESOURCES 0x0A
#define IRP_MN_QUERY_RESOURCE_REQUIREMENTS 0x0B
#define IRP_MN_QUERY_DEVICE_TEXT 0x0C
#define IRP_MN_FILTER_RESOURCE_REQUIREMENTS 0x0D
#define IRP_MN_READ_CONFIG 0x0F
#define IRP_MN_WRITE_CONFIG 0x10
#define IRP_MN_EJECT 0x11
#define IRP_MN_SET_LOCK 0x12
#define IRP_MN_QUERY_ID 0x13
#define IRP_MN_QUERY_PNP_DEVICE_STATE 0x14
#define IRP_MN_QUERY_BUS_INFORMATION 0x15
#define IRP_MN_DEVICE_USAGE_NOTIFICATION 0x16
#define IRP_MN_SURPRISE_REMOVAL 0x17

#define IRP_MN_WAIT_WAKE 0x00
#define IRP_MN_POWER_SEQUENCE 0x01
#define IRP_MN_SET_POWER 0x02
#define IRP_MN_QUERY_POWER 0x03

#define IRP_MN_QUERY_ALL_DATA 0x00

// Device object flags.
#define DO_VERIFY_VOLUME 0x00000002
#define DO_BUFFERED_IO 0x00000004
#define DO_EXCLUSIVE 0x00000008
#define DO_DIRECT_IO 0x00000010
#define DO_MAP_IO_BUFFER 0x00000020
#define DO_DEVICE_INITIALIZING 0x00000080
#define DO_POWER_PAGABLE 0x00002000
#define DO_POWER_INRUSH 0x00004000

#define FILE_DEVICE_UNKNOWN 0x00000022
#define FILE_DEVICE_BUS_EXTENDER 0x0000002a
#define FILE_DEVICE_SECURE_OPEN 0x00000100

#define METHOD_BUFFERED 0
#define METHOD_IN_DIRECT 1
#define METHOD_OUT_DIRECT 2
#define METHOD_NEITHER 3
#define FILE_ANY_ACCESS 0
#define FILE_READ_ACCESS 0x0001
#define FILE_WRITE_ACCESS 0x0002
#define CTL_CODE(DeviceType, Function, Method, Access)                             \
    ((static_cast<ULONG>(DeviceType) << 16) | (static_cast<ULONG>(Access) << 14) | \
     (static_cast<ULONG>(Function) << 2) | static_cast<ULONG>(Method))

// Stack location control bits.
#define SL_PENDING_RETURNED 0x01
#define SL_INVOKE_ON_CANCEL 0x20
#define SL_INVOKE_ON_SUCCESS 0x40
#define SL_INVOKE_ON_ERROR 0x80

// Access rights and share modes of an open.
#define FILE_READ_DATA 0x0001
#define FILE_WRITE_DATA 0x0002
#define DELETE 0x00010000
#define SYNCHRONIZE 0x00100000
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004

struct _DEVICE_OBJECT;
struct _DRIVER_OBJECT;
struct _IRP;
struct _FILE_OBJECT;

typedef NTSTATUS DRIVER_INITIALIZE(struct _DRIVER_OBJECT* DriverObject,
                                   PUNICODE_STRING RegistryPath);
typedef DRIVER_INITIALIZE* PDRIVER_INITIALIZE;
typedef NTSTATUS DRIVER_ADD_DEVICE(struct _DRIVER_OBJECT* DriverObject,
                                   struct _DEVICE_OBJECT* PhysicalDeviceObject);
typedef DRIVER_ADD_DEVICE* PDRIVER_ADD_DEVICE;
typedef VOID DRIVER_UNLOAD(struct _DRIVER_OBJECT* DriverObject);
typedef DRIVER_UNLOAD* PDRIVER_UNLOAD;
typedef NTSTATUS DRIVER_DISPATCH(struct _DEVICE_OBJECT* DeviceObject, struct _IRP* Irp);
typedef DRIVER_DISPATCH* PDRIVER_DISPATCH;
typedef VOID DRIVER_STARTIO(struct _DEVICE_OBJECT* DeviceObject, struct _IRP* Irp);
typedef DRIVER_STARTIO* PDRIVER_STARTIO;
typedef VOID DRIVER_CANCEL(struct _DEVICE_OBJECT* DeviceObject, struct _IRP* Irp);
typedef DRIVER_CANCEL* PDRIVER_CANCEL;
typedef NTSTATUS IO_COMPLETION_ROUTINE(struct _DEVICE_OBJECT* DeviceObject, struct _IRP* Irp,
                                       PVOID Context);
typedef IO_COMPLETION_ROUTINE* PIO_COMPLETION_ROUTINE;
typedef VOID IO_WORKITEM_ROUTINE(struct _DEVICE_OBJECT* DeviceObject, PVOID Context);
typedef IO_WORKITEM_ROUTINE* PIO_WORKITEM_ROUTINE;

typedef struct _IO_STATUS_BLOCK {
    union {
        NTSTATUS Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
} IO_STATUS_BLOCK, *PIO_STATUS_BLOCK;

typedef VOID REQUEST_POWER_COMPLETE(struct _DEVICE_OBJECT* DeviceObject, UCHAR MinorFunction,
                                    POWER_STATE PowerState, PVOID Context,
                                    PIO_STATUS_BLOCK IoStatus);
typedef REQUEST_POWER_COMPLETE* PREQUEST_POWER_COMPLETE;

typedef struct _DRIVER_EXTENSION {
    struct _DRIVER_OBJECT* DriverObject;
    PDRIVER_ADD_DEVICE AddDevice;
    ULONG Count;
    UNICODE_STRING ServiceKeyName;
} DRIVER_EXTENSION, *PDRIVER_EXTENSION;

typedef struct _DRIVER_OBJECT {
    CSHORT Type;
    CSHORT Size;
    struct _DEVICE_OBJECT* DeviceObject;  // the driver's devices, newest first
    ULONG Flags;
    PVOID DriverStart;
    ULONG DriverSize;
    PVOID DriverSection;
    PDRIVER_EXTENSION DriverExtension;
    UNICODE_STRING DriverName;  // "\Driver\<service name>"
    PUNICODE_STRING HardwareDatabase;
    PVOID FastIoDispatch;
    PDRIVER_INITIALIZE DriverInit;
    PDRIVER_STARTIO DriverStartIo;
    PDRIVER_UNLOAD DriverUnload;
    PDRIVER_DISPATCH MajorFunction[IRP_MJ_MAXIMUM_FUNCTION + 1];
} DRIVER_OBJECT, *PDRIVER_OBJECT;

typedef struct _DEVICE_OBJECT {
    CSHORT Type;
    USHORT Size;
    LONG ReferenceCount;
    struct _DRIVER_OBJECT* DriverObject;
    struct _DEVICE_OBJECT* NextDevice;      // next device of the same driver
    struct _DEVICE_OBJECT* AttachedDevice;  // the device attached on top of this one
    struct _IRP* CurrentIrp;
    PVOID Timer;
    ULONG Flags;
    ULONG Characteristics;
    PVOID Vpb;
    PVOID DeviceExtension;
    DEVICE_TYPE DeviceType;
    CCHAR StackSize;
    ULONG AlignmentRequirement;
    KDPC Dpc;
    ULONG ActiveThreadCount;
    PVOID SecurityDescriptor;
    KEVENT DeviceLock;
    USHORT SectorSize;
    USHORT Spare1;
    PVOID DeviceObjectExtension;  // the host's own record of the device
    PVOID Reserved;
} DEVICE_OBJECT, *PDEVICE_OBJECT;

typedef struct _FILE_OBJECT {
    CSHORT Type;
    CSHORT Size;
    PDEVICE_OBJECT DeviceObject;
    PVOID Vpb;
    PVOID FsContext;
    PVOID FsContext2;
    PVOID SectionObjectPointer;
    PVOID PrivateCacheMap;
    NTSTATUS FinalStatus;
    struct _FILE_OBJECT* RelatedFileObject;
    BOOLEAN LockOperation;
    BOOLEAN DeletePending;
    BOOLEAN ReadAccess;
    BOOLEAN WriteAccess;
    BOOLEAN DeleteAccess;
    BOOLEAN SharedRead;
    BOOLEAN SharedWrite;
    BOOLEAN SharedDelete;
    ULONG Flags;
    UNICODE_STRING FileName;
    LARGE_INTEGER CurrentByteOffset;
} FILE_OBJECT, *PFILE_OBJECT;

typedef struct _IO_SECURITY_CONTEXT {
    PVOID SecurityQos;
    PVOID AccessState;
    ACCESS_MASK DesiredAccess;
    ULONG FullCreateOptions;
} IO_SECURITY_CONTEXT, *PIO_SECURITY_CONTEXT;

typedef enum _DEVICE_RELATION_TYPE {
    BusRelations,
    EjectionRelations,
    PowerRelations,
    RemovalRelations,
    TargetDeviceRelation,
    SingleBusRelations,
    TransportRelations
} DEVICE_RELATION_TYPE;

typedef enum _DEVICE_USAGE_NOTIFICATION_TYPE {
    DeviceUsageTypeUndefined,
    DeviceUsageTypePaging,
    DeviceUsageTypeHibernation,
    DeviceUsageTypeDumpFile
} DEVICE_USAGE_NOTIFICATION_TYPE;

typedef struct _IO_STACK_LOCATION {
    UCHAR MajorFunction;
    UCHAR MinorFunction;
    UCHAR Flags;
    UCHAR Control;
    union {
        struct {
            PIO_SECURITY_CONTEXT SecurityContext;
            ULONG Options;  // creation disposition << 24 | create options
            USHORT FileAttributes;
            USHORT ShareAccess;
            ULONG EaLength;
        } Create;
        struct {
            ULONG Length;
            ULONG Key;
            LARGE_INTEGER ByteOffset;
        } Read;
        struct {
            ULONG Length;
            ULONG Key;
            LARGE_INTEGER ByteOffset;
        } Write;
        struct {
            ULONG OutputBufferLength;
            ULONG InputBufferLength;
            ULONG IoControlCode;
            PVOID Type3InputBuffer;
        } DeviceIoControl;
        struct {
            DEVICE_RELATION_TYPE Type;
        } QueryDeviceRelations;
        struct {
            PDEVICE_CAPABILITIES Capabilities;
        } DeviceCapabilities;
        struct {
            BOOLEAN InPath;
            BOOLEAN Reserved[3];
            DEVICE_USAGE_NOTIFICATION_TYPE Type;
        } UsageNotification;
        struct {
            SYSTEM_POWER_STATE PowerState;
        } WaitWake;
        struct {
            ULONG SystemContext;
            POWER_STATE_TYPE Type;
            POWER_STATE State;
            POWER_ACTION ShutdownType;
        } Power;
        struct {
            PCM_RESOURCE_LIST AllocatedResources;
            PCM_RESOURCE_LIST AllocatedResourcesTranslated;
        } StartDevice;
        struct {
            PVOID Argument1;
            PVOID Argument2;
            PVOID Argument3;
            PVOID Argument4;
        } Others;
    } Parameters;
    PDEVICE_OBJECT DeviceObject;
    PFILE_OBJECT FileObject;
    PIO_COMPLETION_ROUTINE CompletionRoutine;
    PVOID Context;
} IO_STACK_LOCATION, *PIO_STACK_LOCATION;

// An IRP is followed in memory by its StackSize stack locations. The
// current location is Tail.Overlay.CurrentStackLocation; passing the IRP to
// the next lower driver moves it one location down (towards lower addresses).
typedef struct _IRP {
    CSHORT Type;
    USHORT Size;
    PVOID MdlAddress;
    ULONG Flags;
    union {
        struct _IRP* MasterIrp;
        LONG IrpCount;
        PVOID SystemBuffer;  // METHOD_BUFFERED: input on entry, output on completion
    } AssociatedIrp;
    LIST_ENTRY ThreadListEntry;
    IO_STATUS_BLOCK IoStatus;
    KPROCESSOR_MODE RequestorMode;
    BOOLEAN PendingReturned;
    CCHAR StackCount;
    CCHAR CurrentLocation;
    BOOLEAN Cancel;
    KIRQL CancelIrql;
    CCHAR ApcEnvironment;
    UCHAR AllocationFlags;
    PIO_STATUS_BLOCK UserIosb;
    PKEVENT UserEvent;
    volatile PDRIVER_CANCEL CancelRoutine;
    PVOID UserBuffer;
    union {
        struct {
            PVOID DriverContext[4];
            PVOID Thread;
            PCHAR AuxiliaryBuffer;
            LIST_ENTRY ListEntry;
            PIO_STACK_LOCATION CurrentStackLocation;
            PFILE_OBJECT OriginalFileObject;
        } Overlay;
    } Tail;
} IRP, *PIRP;

typedef struct _IO_WORKITEM* PIO_WORKITEM;

// The process a request was issued in, and the state saved while a thread
// works in another process's address space.
typedef struct _KPROCESS* PEPROCESS;
typedef struct _KAPC_STATE {
    PVOID SavedProcess;
} KAPC_STATE, *PKAPC_STATE, *PRKAPC_STATE;

inline PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP irp) {
    return irp->Tail.Overlay.CurrentStackLocation;
}
inline PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP irp) {
    return irp->Tail.Overlay.CurrentStackLocation - 1;
}
inline VOID IoSkipCurrentIrpStackLocation(PIRP irp) {
    irp->CurrentLocation++;
    irp->Tail.Overlay.CurrentStackLocation++;
}
inline VOID IoSetNextIrpStackLocation(PIRP irp) {
    irp->CurrentLocation--;
    irp->Tail.Overlay.CurrentStackLocation--;
}
// Copies the parameters for the next lower driver, without the completion
// routine of this one.
inline VOID IoCopyCurrentIrpStackLocationToNext(PIRP irp) {
    PIO_STACK_LOCATION current = IoGetCurrentIrpStackLocation(irp);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    std::memcpy(static_cast<void*>(next), current, offsetof(IO_STACK_LOCATION, CompletionRoutine));
    next->Control = 0;
    next->CompletionRoutine = nullptr;
    next->Context = nullptr;
}
inline VOID IoSetCompletionRoutine(PIRP irp, PIO_COMPLETION_ROUTINE routine, PVOID context,
                                   BOOLEAN invokeOnSuccess, BOOLEAN invokeOnError,
                                   BOOLEAN invokeOnCancel) {
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->CompletionRoutine = routine;
    next->Context = context;
    next->Control = 0;
    if (invokeOnSuccess) next->Control |= SL_INVOKE_ON_SUCCESS;
    if (invokeOnError) next->Control |= SL_INVOKE_ON_ERROR;
    if (invokeOnCancel) next->Control |= SL_INVOKE_ON_CANCEL;
}
inline VOID IoMarkIrpPending(PIRP irp) {
    IoGetCurrentIrpStackLocation(irp)->Control |= SL_PENDING_RETURNED;
}
inline PDRIVER_CANCEL IoSetCancelRoutine(PIRP irp, PDRIVER_CANCEL routine) {
    return reinterpret_cast<PDRIVER_CANCEL>(InterlockedExchangePointer(
        reinterpret_cast<PVOID volatile*>(&irp->CancelRoutine), reinterpret_cast<PVOID>(routine)));
}

extern "C" {

// Device objects. The name, if any, is "\Device\..." and unique without
// regard to case (STATUS_OBJECT_NAME_COLLISION). The extension is zeroed;
// the new device carries DO_DEVICE_INITIALIZING and StackSize 1.
KALVO_WDM_API NTSTATUS IoCreateDevice(PDRIVER_OBJECT driverObject, ULONG deviceExtensionSize,
                                      PUNICODE_STRING deviceName, DEVICE_TYPE deviceType,
                                      ULONG deviceCharacteristics, BOOLEAN exclusive,
                                      PDEVICE_OBJECT* deviceObject);
// The device leaves the name space at once; its memory is released when the
// last file object opened on it is closed.
KALVO_WDM_API VOID IoDeleteDevice(PDEVICE_OBJECT deviceObject);
// Symbolic links "\DosDevices\name" or "\??\name" (the same directory);
// names compare without regard to case. A link may name a device that does
// not exist yet; opens resolve it at the time.
KALVO_WDM_API NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING symbolicLinkName,
                                            PUNICODE_STRING deviceName);
KALVO_WDM_API NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING symbolicLinkName);
// Attaches source on top of the stack that target is in; returns the device
// it was attached to (the previous top), or null when that device is being
// deleted.
KALVO_WDM_API PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT sourceDevice,
                                                         PDEVICE_OBJECT targetDevice);
KALVO_WDM_API VOID IoDetachDevice(PDEVICE_OBJECT targetDevice);
KALVO_WDM_API PDEVICE_OBJECT IoGetAttachedDevice(PDEVICE_OBJECT deviceObject);
KALVO_WDM_API PDEVICE_OBJECT IoGetAttachedDeviceReference(PDEVICE_OBJECT deviceObject);
KALVO_WDM_API VOID ObReferenceObject(PVOID object);
KALVO_WDM_API VOID ObDereferenceObject(PVOID object);

// Driver object extensions: one per identifier, zeroed, freed with the
// driver object. STATUS_OBJECT_NAME_COLLISION for an identifier in use.
KALVO_WDM_API NTSTATUS IoAllocateDriverObjectExtension(PDRIVER_OBJECT driverObject,
                                                       PVOID clientIdentificationAddress,
                                                       ULONG driverObjectExtensionSize,
                                                       PVOID* driverObjectExtension);
KALVO_WDM_API PVOID IoGetDriverObjectExtension(PDRIVER_OBJECT driverObject,
                                               PVOID clientIdentificationAddress);

// IRPs.
KALVO_WDM_API PIRP IoAllocateIrp(CCHAR stackSize, BOOLEAN chargeQuota);
KALVO_WDM_API VOID IoFreeIrp(PIRP irp);
KALVO_WDM_API VOID IoReuseIrp(PIRP irp, NTSTATUS status);
// A device-control IRP for the top of deviceObject's stack: METHOD_BUFFERED
// through a system buffer. On completion the status goes to ioStatusBlock,
// the output to outputBuffer, the event is set and the IRP is freed.
KALVO_WDM_API PIRP IoBuildDeviceIoControlRequest(ULONG ioControlCode, PDEVICE_OBJECT deviceObject,
                                                 PVOID inputBuffer, ULONG inputBufferLength,
                                                 PVOID outputBuffer, ULONG outputBufferLength,
                                                 BOOLEAN internalDeviceIoControl, PKEVENT event,
                                                 PIO_STATUS_BLOCK ioStatusBlock);
// Moves to the next lower stack location and calls that device's dispatch
// routine for the location's major function.
KALVO_WDM_API NTSTATUS IofCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp);
#define IoCallDriver(DeviceObject, Irp) IofCallDriver(DeviceObject, Irp)
// Runs the completion routines from the current location up; a routine
// returning STATUS_MORE_PROCESSING_REQUIRED stops completion there.
KALVO_WDM_API VOID IofCompleteRequest(PIRP irp, CCHAR priorityBoost);
#define IoCompleteRequest(Irp, PriorityBoost) IofCompleteRequest(Irp, PriorityBoost)
// Sets Cancel and calls the cancel routine (with the cancel spin lock held,
// which the routine releases). TRUE when there was a routine to call.
KALVO_WDM_API BOOLEAN IoCancelIrp(PIRP irp);
KALVO_WDM_API VOID IoAcquireCancelSpinLock(PKIRQL irql);
KALVO_WDM_API VOID IoReleaseCancelSpinLock(KIRQL irql);
// TRUE when the request comes from a 32-bit process.
KALVO_WDM_API BOOLEAN IoIs32bitProcess(PIRP irp);
// The process the request was issued in (null for a request of the system).
KALVO_WDM_API PEPROCESS IoGetRequestorProcess(PIRP irp);
// Runs the current thread in process's context (its views, its word size)
// until the matching KeUnstackDetachProcess; a held request replayed on
// another thread is served as if its caller's thread ran it.
KALVO_WDM_API VOID KeStackAttachProcess(PEPROCESS process, PRKAPC_STATE apcState);
KALVO_WDM_API VOID KeUnstackDetachProcess(PRKAPC_STATE apcState);

// Work items bound to a device object: the device stays allocated until
// the item has run.
KALVO_WDM_API PIO_WORKITEM IoAllocateWorkItem(PDEVICE_OBJECT deviceObject);
KALVO_WDM_API VOID IoQueueWorkItem(PIO_WORKITEM ioWorkItem, PIO_WORKITEM_ROUTINE workerRoutine,
                                   WORK_QUEUE_TYPE queueType, PVOID context);
KALVO_WDM_API VOID IoFreeWorkItem(PIO_WORKITEM ioWorkItem);

// Power management.
KALVO_WDM_API POWER_STATE PoSetPowerState(PDEVICE_OBJECT deviceObject, POWER_STATE_TYPE type,
                                          POWER_STATE state);
KALVO_WDM_API VOID PoStartNextPowerIrp(PIRP irp);
KALVO_WDM_API NTSTATUS PoCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp);
// Sends a power IRP (IRP_MN_SET_POWER / IRP_MN_QUERY_POWER of a device
// power state, or IRP_MN_WAIT_WAKE) to the top of the stack that
// deviceObject (normally the PDO) belongs to, and calls completionFunction
// when it completes. Returns STATUS_PENDING when the IRP was sent.
KALVO_WDM_API NTSTATUS PoRequestPowerIrp(PDEVICE_OBJECT deviceObject, UCHAR minorFunction,
                                         POWER_STATE powerState,
                                         PREQUEST_POWER_COMPLETE completionFunction, PVOID context,
                                         PIRP* irp);

}  // extern "C"
