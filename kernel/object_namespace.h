// The object name space: named device objects ("\Device\...") and symbolic
// links ("\??\...", also reached as "\DosDevices\..." and "\GLOBAL??\...").
// Names compare without regard to case. A link holds only its target's name;
// opens resolve it when they happen.
#pragma once

#include "kernel/export.h"

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/wdm.h"

namespace kalvo::kernel {

struct LinkEntry {
    std::u16string name;    // as created, normalised to "\??\..."
    std::u16string target;  // as given
};

class KALVO_KERNEL_API ObjectNamespace {
  public:
    NTSTATUS insertDevice(std::u16string_view name, PDEVICE_OBJECT device);
    void removeDevice(std::u16string_view name, PDEVICE_OBJECT device);
    NTSTATUS createLink(std::u16string_view name, std::u16string_view target);
    NTSTATUS deleteLink(std::u16string_view name);
    std::vector<LinkEntry> links() const;
    // The links that name the device (by its "\Device\..." name).
    std::vector<std::u16string> linksTo(std::u16string_view deviceName) const;

    // Resolves a client path ("\\.\name") through its link to a device and
    // takes a reference on the device (released with releaseDevice).
    NTSTATUS openDevice(std::string_view clientPath, PDEVICE_OBJECT* device) const;

    // "\DosDevices\x", "\GLOBAL??\x" and "\??\x" all become "\??\x".
    static std::u16string normaliseLinkName(std::u16string_view name);

  private:
    mutable std::mutex mutex_;
    std::map<std::u16string, PDEVICE_OBJECT> devices_;  // by upper-cased name
    std::map<std::u16string, LinkEntry> links_;         // by upper-cased normalised name
};

}  // namespace kalvo::kernel
