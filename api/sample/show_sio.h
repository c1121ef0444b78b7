// The serial part of kalvo-sample.
#pragma once

// Opens SIO_1 of Kalvo.ini, sends a line of text on channel 1 and reads it
// back (the example network's unit loops its channel back), prints both and
// closes the unit. True when the line came back whole.
bool showSio();
