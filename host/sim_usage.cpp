#include "host/sim_usage.h"

namespace kalvo::kernel::host {

const char* const kSimUsage =
    "Simulated network (boards by index in the host's board set, 0 first):\n"
    "  sim show [board]                  line state, stations and units\n"
    "  sim trace [board] [lines]         the latest trace lines (default 40)\n"
    "  sim timing                        cycle period, cycles, worst lateness\n"
    "  sim unit <name>                   a unit's outputs and inputs\n"
    "  sim unit <name> help              the unit's own commands\n"
    "  sim unit <name> <command...>      a unit command, e.g. DIO: input 0 0x12;\n"
    "                                    ADA: stuck 1 on; SIO: rx-error 1,\n"
    "                                    tx-error 1, pty 1\n"
    "  sim offline|online <board> <address>\n"
    "                                    take a station off the line, put it back\n"
    "  sim silent|unsilent <unit>        the unit stops answering / answers again\n"
    "  sim mail-absent|mail-present <board> <address>\n"
    "                                    mail to the station finds nobody / arrives\n"
    "  sim add-station <board> <address> [addresses=N] [model=TEXT] [echo]\n"
    "  sim remove-station <board> <address>   (and the units on it)\n"
    "  sim add-unit <board> <FAMILY_N> station=A offsets=0,1,.. [kind=K]\n"
    "  sim remove-unit <name>\n";

}  // namespace kalvo::kernel::host
