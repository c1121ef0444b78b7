#include "driver/resource.h"

bool CResource::GetMemoryResource(PORBEK_MAPPED_ADDRESS record, ULONG index) const {
    if (!list_ || list_->Count == 0) return false;
    // Only the first full descriptor: a PCI board sits on one bus.
    const CM_PARTIAL_RESOURCE_LIST& partial = list_->List[0].PartialResourceList;
    ULONG memoryIndex = 0;
    for (ULONG i = 0; i < partial.Count; ++i) {
        const CM_PARTIAL_RESOURCE_DESCRIPTOR& d = partial.PartialDescriptors[i];
        if (d.Type != CmResourceTypeMemory) continue;
        if (memoryIndex++ != index) continue;
        ULONGLONG start = static_cast<ULONGLONG>(d.u.Memory.Start.QuadPart);
        record->MappedAddress = nullptr;
        record->Length = d.u.Memory.Length;
        record->BusAddressLow = static_cast<ULONG>(start);
        record->BusAddressHigh = static_cast<ULONG>(start >> 32);
        record->Mapped = 0;
        record->Flags = d.Flags;
        return true;
    }
    return false;
}
