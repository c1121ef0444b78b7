// The "sim" requests of the admin channel, as kalvo-devctl shows them.
#pragma once

namespace kalvo::kernel::host {

extern const char* const kSimUsage;

}  // namespace kalvo::kernel::host
