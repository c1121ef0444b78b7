// Uses the kernel, as the graph allows.
#pragma once

#include "kernel/runtime.h"
