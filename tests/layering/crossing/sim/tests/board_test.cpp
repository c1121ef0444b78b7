// Crosses the rule: a component's tests may not use another component's tests.
#include "sim/board.h"
#include "kernel/tests/fixture.h"
