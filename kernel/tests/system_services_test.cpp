// The services a board driver uses: registry values, the error log, bus
// memory and register writes, physical-memory views in the calling process.
#include <fstream>

#include "kernel/current_process.h"
#include "kernel/error_log.h"
#include "kernel/registry.h"
#include "kernel/tests/kernel_fixture.h"

namespace kalvo::kernel::testing {
namespace {

using platform::STATUS_SUCCESS;

class SystemServicesTest : public KernelFixture {};

constexpr char16_t kParameters[] =
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\KTest\\Parameters";

TEST_F(SystemServicesTest, RegistryValuesDirectAndByRoutine) {
    boot(1,
         "; the test driver's service\n"
         "[\\Registry\\Machine\\System\\CurrentControlSet\\Services\\KTest\\Parameters]\n"
         "\"Mode\"=dword:0000002a\n"
         "VendorID = dword:1234\n"
         "\"Label\"=\"first \\\"board\\\"\"\n"
         "\"Broken\"=dword:xyz\n"
         "\"Blob\"=hex:01,02,ff\n");
    // The driver read Mode at AddDevice.
    FileId id = open("\\\\.\\ktest0");
    IoResult info = control(id, IOCTL_KTEST_INFO, {}, 8);
    ASSERT_EQ(info.output.size(), 8u);
    EXPECT_EQ(info.output[0], 42);

    ULONG vendor = 7, device = 7, broken = 7;
    UNICODE_STRING label{};
    RTL_QUERY_REGISTRY_TABLE table[5] = {};
    table[0] = {
        nullptr, RTL_QUERY_REGISTRY_DIRECT, const_cast<PWSTR>(u"VENDORID"), &vendor, 0, nullptr, 0};
    table[1] = {
        nullptr, RTL_QUERY_REGISTRY_DIRECT, const_cast<PWSTR>(u"DeviceID"), &device, 0, nullptr, 0};
    table[2] = {
        nullptr, RTL_QUERY_REGISTRY_DIRECT, const_cast<PWSTR>(u"Broken"), &broken, 0, nullptr, 0};
    table[3] = {nullptr, RTL_QUERY_REGISTRY_DIRECT, const_cast<PWSTR>(u"Label"), &label, 0, nullptr,
                0};
    EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kParameters, table, nullptr, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(vendor, 0x1234u);
    EXPECT_EQ(device, 7u);  // missing: left alone
    EXPECT_EQ(broken, 7u);  // unparseable line: as if missing
    EXPECT_EQ(std::u16string(label.Buffer, label.Length / 2), u"first \"board\"");
    RtlFreeUnicodeString(&label);

    // Required and missing; a missing key; the services-relative form.
    RTL_QUERY_REGISTRY_TABLE required[2] = {};
    required[0] = {nullptr,
                   RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_REQUIRED,
                   const_cast<PWSTR>(u"DeviceID"),
                   &device,
                   0,
                   nullptr,
                   0};
    EXPECT_EQ(
        RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kParameters, required, nullptr, nullptr),
        STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, u"\\Registry\\Machine\\Nothing", table,
                                     nullptr, nullptr),
              STATUS_OBJECT_NAME_NOT_FOUND);
    ULONG defaulted = 0, fallback = 99;
    RTL_QUERY_REGISTRY_TABLE withDefault[2] = {};
    withDefault[0] = {nullptr,
                      RTL_QUERY_REGISTRY_DIRECT,
                      const_cast<PWSTR>(u"DeviceID"),
                      &defaulted,
                      REG_DWORD,
                      &fallback,
                      4};
    EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, u"KTest\\Parameters\\", withDefault,
                                     nullptr, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(defaulted, 99u);

    // A routine with no name sees every value of the key.
    std::vector<std::u16string> names;
    RTL_QUERY_REGISTRY_TABLE all[2] = {};
    all[0].QueryRoutine = [](PWSTR name, ULONG, PVOID, ULONG, PVOID context, PVOID) -> NTSTATUS {
        static_cast<std::vector<std::u16string>*>(context)->push_back(name);
        return STATUS_SUCCESS;
    };
    EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kParameters, all, &names, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Mode", u"VendorID", u"Label", u"Blob"}));

    // With the type check a direct read stores only the expected type: a
    // string or binary value where a ULONG is held is refused, not written.
    struct Row {
        const char16_t* name;
        ULONG expected;
        NTSTATUS status;
        ULONG result;
    };
    const Row rows[] = {{u"VendorID", REG_DWORD, STATUS_SUCCESS, 0x1234u},
                        {u"Label", REG_DWORD, STATUS_OBJECT_TYPE_MISMATCH, 7u},
                        {u"Blob", REG_DWORD, STATUS_OBJECT_TYPE_MISMATCH, 7u},
                        {u"Missing", REG_DWORD, STATUS_SUCCESS, 7u}};
    for (const Row& row : rows) {
        ULONG guarded[3] = {0xA5A5A5A5u, 7u, 0xA5A5A5A5u};  // a value with a guard each side
        RTL_QUERY_REGISTRY_TABLE checked[2] = {};
        checked[0] = {nullptr,
                      RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_TYPECHECK,
                      const_cast<PWSTR>(row.name),
                      &guarded[1],
                      (row.expected << RTL_QUERY_REGISTRY_TYPECHECK_SHIFT) | REG_NONE,
                      nullptr,
                      0};
        EXPECT_EQ(
            RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kParameters, checked, nullptr, nullptr),
            row.status);
        EXPECT_EQ(guarded[1], row.result);
        EXPECT_EQ(guarded[0], 0xA5A5A5A5u);
        EXPECT_EQ(guarded[2], 0xA5A5A5A5u);
    }
    // The default's type is the low bytes of DefaultType.
    ULONG typedDefault = 0;
    RTL_QUERY_REGISTRY_TABLE withTypedDefault[2] = {};
    withTypedDefault[0] = {nullptr,
                           RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_TYPECHECK,
                           const_cast<PWSTR>(u"Missing"),
                           &typedDefault,
                           (REG_DWORD << RTL_QUERY_REGISTRY_TYPECHECK_SHIFT) | REG_DWORD,
                           &fallback,
                           4};
    EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kParameters, withTypedDefault, nullptr,
                                     nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(typedDefault, 99u);
}

TEST_F(SystemServicesTest, ErrorLogEntriesKeepTheirInsertionStrings) {
    boot(1);
    FileId id = open("\\\\.\\ktest0");
    EXPECT_EQ(control(id, IOCTL_KTEST_LOG_ERROR).status, STATUS_SUCCESS);
    auto entries = kernel->errorLog().entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].source, "\\Device\\KTest0");
    EXPECT_EQ(uint32_t(entries[0].errorCode), 0xC0070004u);
    uint64_t window = TestHardware::kBase + TestHardware::kWindow;
    EXPECT_EQ(entries[0].strings,
              (std::vector<std::string>{"KTest0", std::to_string(window), "4096"}));
    std::string file = dir.read("errors.log");
    EXPECT_NE(file.find("\\Device\\KTest0 ErrorCode=0xC0070004"), std::string::npos) << file;
    EXPECT_NE(file.find("Strings=\"KTest0\",\"" + std::to_string(window) + "\",\"4096\""),
              std::string::npos)
        << file;
}

TEST_F(SystemServicesTest, ErrorLogEntryWithWrongCountsStaysInsideTheEntry) {
    boot(1);
    PDEVICE_OBJECT device = driver->DeviceObject;
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(IoAllocateErrorLogEntry(device, sizeof(IO_ERROR_LOG_PACKET) - 1), nullptr);
    EXPECT_EQ(IoAllocateErrorLogEntry(nullptr, sizeof(IO_ERROR_LOG_PACKET)), nullptr);
    UCHAR size = sizeof(IO_ERROR_LOG_PACKET) + 6;
    auto* packet = static_cast<PIO_ERROR_LOG_PACKET>(IoAllocateErrorLogEntry(device, size));
    ASSERT_NE(packet, nullptr);
    packet->ErrorCode = 0xC0070003;
    packet->NumberOfStrings = 5;                         // more than there are
    packet->StringOffset = sizeof(IO_ERROR_LOG_PACKET);  // "abc" without its NUL
    packet->DumpDataSize = 200;                          // beyond the entry
    std::memcpy(reinterpret_cast<char*>(packet) + packet->StringOffset, u"abc", 6);
    IoWriteErrorLogEntry(packet);
    auto entries = kernel->errorLog().entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].strings, std::vector<std::string>{"abc"});
    EXPECT_EQ(entries[0].dumpData.size(), size - offsetof(IO_ERROR_LOG_PACKET, DumpData));
}

TEST_F(SystemServicesTest, RegisterWritesReachTheHardwareWithTheirBusAddress) {
    boot(2);
    FileId id = open("\\\\.\\ktest1");
    std::vector<uint8_t> in(8);
    uint32_t offset = 0x44C, value = 0x8000;
    std::memcpy(in.data(), &offset, 4);
    std::memcpy(in.data() + 4, &value, 4);
    EXPECT_EQ(control(id, IOCTL_KTEST_WRITE_REGISTER, in).status, STATUS_SUCCESS);
    uint64_t bus = TestHardware::kBase + TestHardware::kBoardSpan + TestHardware::kWindow + offset;
    auto writes = hardware->writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].first, bus);
    EXPECT_EQ(writes[0].second, 4u);
    EXPECT_EQ(hardware->read32(bus), value);

    // A store through memory the kernel did not map is not reported.
    uint32_t local = 0;
    WRITE_REGISTER_ULONG(reinterpret_cast<volatile ULONG*>(&local), 5);
    EXPECT_EQ(local, 5u);
    EXPECT_EQ(hardware->writes().size(), 1u);
}

TEST_F(SystemServicesTest, ViewsAreMappedInTheCallerAtTheAllocationGranularity) {
    boot(2);
    FileId id = open("\\\\.\\ktest1");
    std::vector<uint8_t> in(8);
    uint32_t offset = 0x10, length = 0x1000;
    std::memcpy(in.data(), &offset, 4);
    std::memcpy(in.data() + 4, &length, 4);
    IoResult r = control(id, IOCTL_KTEST_MAP, in, 24);
    ASSERT_EQ(r.status, STATUS_SUCCESS);
    ASSERT_EQ(r.output.size(), 24u);
    uint64_t address, reported, size;
    std::memcpy(&address, r.output.data(), 8);
    std::memcpy(&reported, r.output.data() + 8, 8);
    std::memcpy(&size, r.output.data() + 16, 8);
    uint64_t boardBase = TestHardware::kBase + TestHardware::kBoardSpan;
    uint64_t start = boardBase + TestHardware::kWindow + offset;
    // The offset moved down to 64 KiB, the size grew by as much, in pages.
    EXPECT_EQ(reported, boardBase);
    EXPECT_EQ(size, (start - boardBase + length + 0xFFF) & ~0xFFFull);
    ASSERT_EQ(caller.views.size(), 1u);
    EXPECT_EQ(caller.views[0].first, boardBase - TestHardware::kBase);
    EXPECT_EQ(caller.views[0].second, size);
    EXPECT_EQ(address, 0x7f0000000000ULL + caller.views[0].first + (start - boardBase));

    std::vector<uint8_t> unmap(8);
    std::memcpy(unmap.data(), &address, 8);
    EXPECT_EQ(control(id, IOCTL_KTEST_UNMAP, unmap).status, STATUS_SUCCESS);
    ASSERT_EQ(caller.unmapped.size(), 1u);
    EXPECT_EQ(caller.unmapped[0], address);

    // Beyond physical memory: refused, nothing mapped.
    offset = 0x20000;
    std::memcpy(in.data(), &offset, 4);
    EXPECT_EQ(control(id, IOCTL_KTEST_MAP, in, 24).status, platform::STATUS_INVALID_PARAMETER);
    EXPECT_EQ(caller.views.size(), 1u);
}

// A window that does not start at the 64 KiB granularity (a real board's
// range) has nothing to map before it: its views begin with it, and ranges
// that leave it are refused, by views and MmMapIoSpace alike.
TEST_F(SystemServicesTest, ViewsAndMappingsStayInsideTheWindowThatHoldsTheirAddress) {
    boot(1);
    hardware->useRangeWindows();
    UNICODE_STRING name = RTL_CONSTANT_STRING(u"\\Device\\PhysicalMemory");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, 0, nullptr, nullptr);
    HANDLE section = nullptr;
    ASSERT_EQ(ZwOpenSection(&section, SECTION_ALL_ACCESS, &attributes), STATUS_SUCCESS);
    const uint64_t b = TestHardware::kBase;
    struct Row {
        const char* name;
        uint64_t offset;
        SIZE_T size;
        NTSTATUS status;
        uint64_t start;  // the view's start, when mapped
        SIZE_T length;
    };
    const Row rows[] = {
        {"inside the memory window", b + 0x3800, 0x100, STATUS_SUCCESS, b + 0x3000, 0x1000},
        {"to the window's last byte", b + 0x4F00, 0x100, STATUS_SUCCESS, b + 0x3000, 0x2000},
        {"past the window's end", b + 0x4F00, 0x200, platform::STATUS_INVALID_PARAMETER, 0, 0},
        {"between the windows", b + 0x2000, 4, platform::STATUS_INVALID_PARAMETER, 0, 0},
        {"the register window", b + 0x1010, 0x10, STATUS_SUCCESS, b + 0x1000, 0x1000},
    };
    for (const Row& row : rows) {
        LARGE_INTEGER offset;
        offset.QuadPart = LONGLONG(row.offset);
        SIZE_T size = row.size;
        PVOID base = nullptr;
        EXPECT_EQ(ZwMapViewOfSection(section, NtCurrentProcess(), &base, 0, 0, &offset, &size,
                                     ViewShare, 0, PAGE_READWRITE),
                  row.status)
            << row.name;
        if (row.status != STATUS_SUCCESS) continue;
        EXPECT_EQ(uint64_t(offset.QuadPart), row.start) << row.name;
        EXPECT_EQ(size, row.length) << row.name;
        static_cast<volatile uint32_t*>(base)[(row.offset - row.start) / 4] = 0x5A5A;
        EXPECT_EQ(hardware->read32(row.offset & ~uint64_t(3)), 0x5A5Au) << row.name;
        EXPECT_EQ(ZwUnmapViewOfSection(NtCurrentProcess(), base), STATUS_SUCCESS);
    }
    EXPECT_EQ(ZwClose(section), STATUS_SUCCESS);

    PHYSICAL_ADDRESS inside, outside;
    inside.QuadPart = LONGLONG(b + 0x3800);
    outside.QuadPart = LONGLONG(b + 0x4800);
    const size_t driversOwn = hardware->liveMappings();  // the started board's
    PVOID mapped = MmMapIoSpace(inside, 0x1000, MmNonCached);
    EXPECT_NE(mapped, nullptr);
    EXPECT_EQ(MmMapIoSpace(outside, 0x1000, MmNonCached), nullptr);
    MmUnmapIoSpace(mapped, 0x1000);
    EXPECT_EQ(hardware->liveMappings(), driversOwn);
}

TEST_F(SystemServicesTest, SectionCallsCheckTheirArguments) {
    boot(1);
    UNICODE_STRING wrong = RTL_CONSTANT_STRING(u"\\Device\\physicalmemory");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &wrong, 0, nullptr, nullptr);
    HANDLE section = nullptr;
    EXPECT_EQ(ZwOpenSection(&section, SECTION_ALL_ACCESS, &attributes),
              STATUS_OBJECT_NAME_NOT_FOUND);
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    ASSERT_EQ(ZwOpenSection(&section, SECTION_ALL_ACCESS, &attributes), STATUS_SUCCESS);

    LARGE_INTEGER offset;
    offset.QuadPart = LONGLONG(TestHardware::kBase + TestHardware::kWindow);
    SIZE_T size = 0x100;
    PVOID base = nullptr;
    EXPECT_EQ(ZwMapViewOfSection(section, reinterpret_cast<HANDLE>(1), &base, 0, 0, &offset, &size,
                                 ViewShare, 0, PAGE_READWRITE),
              STATUS_INVALID_HANDLE);
    // Outside a request the view is the host's own.
    ASSERT_EQ(ZwMapViewOfSection(section, NtCurrentProcess(), &base, 0, 0, &offset, &size,
                                 ViewShare, 0, PAGE_READWRITE),
              STATUS_SUCCESS);
    EXPECT_EQ(uint64_t(offset.QuadPart), TestHardware::kBase);
    EXPECT_EQ(size, 0x4000u);
    static_cast<volatile uint32_t*>(base)[TestHardware::kWindow / 4] = 0xA5A5;
    EXPECT_EQ(hardware->read32(TestHardware::kBase + TestHardware::kWindow), 0xA5A5u);
    EXPECT_EQ(ZwUnmapViewOfSection(NtCurrentProcess(), static_cast<char*>(base) + 8),
              STATUS_SUCCESS);
    EXPECT_EQ(ZwUnmapViewOfSection(NtCurrentProcess(), base), STATUS_NOT_MAPPED_VIEW);

    EXPECT_EQ(ZwClose(section), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(section), STATUS_INVALID_HANDLE);
    EXPECT_EQ(ZwMapViewOfSection(section, NtCurrentProcess(), &base, 0, 0, &offset, &size,
                                 ViewShare, 0, PAGE_READWRITE),
              STATUS_INVALID_HANDLE);
}

}  // namespace
}  // namespace kalvo::kernel::testing
