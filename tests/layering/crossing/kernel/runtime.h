// Crosses the graph: the kernel may not include the simulation.
#pragma once

#include "sim/board.h"
