// Symbol visibility of the platform library: everything is hidden unless
// marked, so the platform's C++ API is exported explicitly.
#pragma once

#define KALVO_PLATFORM_API [[gnu::visibility("default")]]
