// Device names and symbolic links, and the counted-string helpers that
// drivers build their names with.
#include <gtest/gtest.h>

#include "kernel/kernel.h"
#include "kernel/object_namespace.h"
#include "kernel/wdm.h"

namespace kalvo::kernel {
namespace {

NTSTATUS emptyEntry(PDRIVER_OBJECT, PUNICODE_STRING) {
    return STATUS_SUCCESS;
}

UNICODE_STRING us(const char16_t* text) {
    UNICODE_STRING s;
    RtlInitUnicodeString(&s, text);
    return s;
}

class ObjectNamesTest : public ::testing::Test {
  protected:
    Kernel kernel{KernelOptions{}};
    PDRIVER_OBJECT driver = kernel.createDriver(emptyEntry, "Names", nullptr);
};

TEST_F(ObjectNamesTest, DeviceNamesAreUniqueWithoutRegardToCase) {
    UNICODE_STRING a = us(u"\\Device\\Board0");
    UNICODE_STRING b = us(u"\\DEVICE\\board0");
    PDEVICE_OBJECT first = nullptr, second = nullptr;
    ASSERT_EQ(IoCreateDevice(driver, 16, &a, 0x9902, 0, FALSE, &first), STATUS_SUCCESS);
    EXPECT_EQ(IoCreateDevice(driver, 16, &b, 0x9902, 0, FALSE, &second),
              STATUS_OBJECT_NAME_COLLISION);
    EXPECT_EQ(second, nullptr);
    EXPECT_TRUE(first->Flags & DO_DEVICE_INITIALIZING);
    EXPECT_EQ(first->StackSize, 1);
    EXPECT_EQ(driver->DeviceObject, first);
    // Once deleted, the name is free again.
    IoDeleteDevice(first);
    EXPECT_EQ(driver->DeviceObject, nullptr);
    ASSERT_EQ(IoCreateDevice(driver, 0, &b, 0x9902, 0, FALSE, &second), STATUS_SUCCESS);
    EXPECT_EQ(second->DeviceExtension, nullptr);
    IoDeleteDevice(second);

    UNICODE_STRING bad = us(u"Device0");
    EXPECT_EQ(IoCreateDevice(driver, 0, &bad, 0, 0, FALSE, &first), STATUS_OBJECT_NAME_INVALID);
    UNICODE_STRING odd{3, 4, const_cast<PWSTR>(u"\\D")};
    EXPECT_EQ(IoCreateDevice(driver, 0, &odd, 0, 0, FALSE, &first), STATUS_OBJECT_NAME_INVALID);
}

TEST_F(ObjectNamesTest, LinksShareOneDirectoryAndCollideWithoutRegardToCase) {
    UNICODE_STRING device = us(u"\\Device\\Tolva0");
    UNICODE_STRING dos = us(u"\\DosDevices\\Tolva0");
    UNICODE_STRING qq = us(u"\\??\\TOLVA0");
    UNICODE_STRING global = us(u"\\GLOBAL??\\tolva0");
    ASSERT_EQ(IoCreateSymbolicLink(&dos, &device), STATUS_SUCCESS);
    EXPECT_EQ(IoCreateSymbolicLink(&qq, &device), STATUS_OBJECT_NAME_COLLISION);
    EXPECT_EQ(IoCreateSymbolicLink(&global, &device), STATUS_OBJECT_NAME_COLLISION);

    // A link may exist before its device; an open resolves it when it runs.
    PDEVICE_OBJECT opened = nullptr;
    EXPECT_EQ(kernel.names().openDevice("\\\\.\\tolva0", &opened), STATUS_OBJECT_NAME_NOT_FOUND);
    PDEVICE_OBJECT created = nullptr;
    UNICODE_STRING upper = us(u"\\DEVICE\\TOLVA0");
    ASSERT_EQ(IoCreateDevice(driver, 0, &upper, 0, 0, FALSE, &created), STATUS_SUCCESS);
    ASSERT_EQ(kernel.names().openDevice("\\\\.\\TOLVA0", &opened), STATUS_SUCCESS);
    EXPECT_EQ(opened, created);
    ObDereferenceObject(opened);

    auto links = kernel.names().linksTo(u"\\device\\tolva0");
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0], u"\\??\\Tolva0");

    EXPECT_EQ(IoDeleteSymbolicLink(&qq), STATUS_SUCCESS);
    EXPECT_EQ(IoDeleteSymbolicLink(&dos), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(kernel.names().openDevice("\\\\.\\tolva0", &opened), STATUS_OBJECT_NAME_NOT_FOUND);
    IoDeleteDevice(created);
}

TEST_F(ObjectNamesTest, DeviceStacksAndDriverExtensions) {
    PDEVICE_OBJECT pdo, fdo, filter;
    ASSERT_EQ(IoCreateDevice(driver, 0, nullptr, 0, 0, FALSE, &pdo), STATUS_SUCCESS);
    ASSERT_EQ(IoCreateDevice(driver, 0, nullptr, 0, 0, FALSE, &fdo), STATUS_SUCCESS);
    ASSERT_EQ(IoCreateDevice(driver, 0, nullptr, 0, 0, FALSE, &filter), STATUS_SUCCESS);
    EXPECT_EQ(IoAttachDeviceToDeviceStack(fdo, pdo), pdo);
    EXPECT_EQ(IoAttachDeviceToDeviceStack(filter, pdo), fdo);
    EXPECT_EQ(filter->StackSize, 3);
    EXPECT_EQ(IoGetAttachedDevice(pdo), filter);
    IoDetachDevice(fdo);
    IoDetachDevice(pdo);
    EXPECT_EQ(IoGetAttachedDevice(pdo), pdo);
    for (auto* d : {filter, fdo, pdo}) IoDeleteDevice(d);

    static int id;
    PVOID extension = nullptr;
    ASSERT_EQ(IoAllocateDriverObjectExtension(driver, &id, 8, &extension), STATUS_SUCCESS);
    EXPECT_EQ(IoGetDriverObjectExtension(driver, &id), extension);
    PVOID again = nullptr;
    EXPECT_EQ(IoAllocateDriverObjectExtension(driver, &id, 8, &again),
              STATUS_OBJECT_NAME_COLLISION);
    EXPECT_EQ(IoGetDriverObjectExtension(driver, &again), nullptr);
}

TEST(CountedStringsTest, BuildCompareAndConvertNames) {
    WCHAR buffer[32];
    UNICODE_STRING s{0, sizeof buffer, buffer};
    EXPECT_EQ(RtlAppendUnicodeToString(&s, u"\\Device\\Tolva"), STATUS_SUCCESS);
    WCHAR digits[12];
    UNICODE_STRING number{0, sizeof digits, digits};
    EXPECT_EQ(RtlIntegerToUnicodeString(12, 10, &number), STATUS_SUCCESS);
    EXPECT_EQ(RtlAppendUnicodeStringToString(&s, &number), STATUS_SUCCESS);
    UNICODE_STRING expected = RTL_CONSTANT_STRING(u"\\device\\TOLVA12");
    EXPECT_TRUE(RtlEqualUnicodeString(&s, &expected, TRUE));
    EXPECT_FALSE(RtlEqualUnicodeString(&s, &expected, FALSE));
    EXPECT_EQ(std::u16string(s.Buffer), u"\\Device\\Tolva12");  // kept NUL-terminated

    // Too long: refused, the string unchanged.
    WCHAR small[4];
    UNICODE_STRING tiny{0, sizeof small, small};
    EXPECT_EQ(RtlAppendUnicodeToString(&tiny, u"abcde"), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(tiny.Length, 0);
    EXPECT_EQ(RtlIntegerToUnicodeString(0xFFFFFFFF, 2, &tiny), STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(RtlIntegerToUnicodeString(5, 7, &tiny), STATUS_INVALID_PARAMETER);

    ULONG value = 0;
    UNICODE_STRING hex = RTL_CONSTANT_STRING(u"0x1F");
    EXPECT_EQ(RtlUnicodeStringToInteger(&hex, 0, &value), STATUS_SUCCESS);
    EXPECT_EQ(value, 31u);

    ANSI_STRING ansi;
    RtlInitAnsiString(&ansi, "Tolva\xe9");
    UNICODE_STRING wide{};
    ASSERT_EQ(RtlAnsiStringToUnicodeString(&wide, &ansi, TRUE), STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(wide.Buffer, wide.Length / 2), u"Tolva?");
    RtlFreeUnicodeString(&wide);
    EXPECT_EQ(wide.Buffer, nullptr);

    UNICODE_STRING null{};
    RtlInitUnicodeString(&null, nullptr);
    EXPECT_EQ(null.Length, 0);
    EXPECT_EQ(RtlCompareUnicodeString(&null, &expected, TRUE) < 0, true);
}

}  // namespace
}  // namespace kalvo::kernel
