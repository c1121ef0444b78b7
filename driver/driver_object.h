// CDriver and CPnpDriver: set up the driver object at load. The wrapper
// exists only during DriverEntry; what it installs stays in the driver
// object.
#pragma once

#include "kernel/wdm.h"

class CDriver {
  public:
    // Installs the plain create, close, cleanup and unload routines and
    // keeps a copy of the service's registry path in the driver object
    // extension. Valid() is false when the copy could not be made.
    CDriver(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);
    virtual ~CDriver() = default;

    bool Valid() const { return valid_; }
    void SetCallback(UCHAR majorFunction, PDRIVER_DISPATCH routine);
    void SetAddDevice(PDRIVER_ADD_DEVICE routine);

  protected:
    PDRIVER_OBJECT driver_;
    bool valid_ = false;
};

class CPnpDriver : public CDriver {
  public:
    // The plug-and-play set over the plain routines: open, close and
    // cleanup rules, PnP, power and system control.
    CPnpDriver(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);
};

// The service's registry path kept at load (the driver object extension
// 0xFAFA); null when there is none.
PUNICODE_STRING GetDriverRegistryPath(PDRIVER_OBJECT driver);

// Unload: deletes every device still on the driver's list, then frees the
// copy of the registry path.
void DriverUnload(PDRIVER_OBJECT driver);
