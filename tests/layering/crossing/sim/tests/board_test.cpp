// Crosses the rule: a component's tests may not use another component's tests.
#include "kernel/tests/fixture.h"
#include "sim/board.h"
