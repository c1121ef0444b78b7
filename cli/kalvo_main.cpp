// kalvo: the network as an application sees it, through libKalvo, run in a
// configuration folder (or -C FOLDER): the boards and lines (status), the
// units with live values (units, --watch), reading and writing any unit
// (get, set), every reason a program would fail here (doctor), and the
// meaning of a return code (strerror).
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "platform/command_line.h"

using namespace kalvo::cli;

namespace {

const char* const kDescription =
    "The Kalvo network as an application sees it: run in a configuration folder\n"
    "(the one holding Kalvo.ini) or give it with -C. The Kalvo library is loaded\n"
    "there as any application loads it.";

const char* const kFooter =
    "Examples:\n"
    "  kalvo -C /etc/kalvo/line1 doctor   why a program would fail in that folder\n"
    "  kalvo units --watch                live values and conditions, Ctrl-C ends\n"
    "  kalvo get DIO_1.5                  input bit 5 of DIO_1\n"
    "  kalvo set ADA_1.2 2048             output value of ADA_1 channel 2\n"
    "  kalvo strerror 9                   what a return code means";

}  // namespace

int main(int argc, char** argv) {
    CLI::App app(kDescription, "kalvo");
    app.set_version_flag("--version", "kalvo " KALVO_VERSION);
    app.footer(kFooter);
    app.require_subcommand(1);
    std::string folder;
    app.add_option("-C", folder, "the configuration folder (default: the current one)")
        ->check(CLI::ExistingDirectory);

    auto* status = app.add_subcommand(
        "status", "each board of Kalvo.ini: its library, open result, lines; the device host");
    bool watch = false;
    int intervalMs = 200;
    auto* units = app.add_subcommand(
        "units", "every unit section: family, board, line, station, offsets, open, condition");
    units->add_flag("--watch,-w", watch, "refresh values and conditions in place until Ctrl-C");
    units->add_option("--interval-ms", intervalMs, "refresh period of --watch")
        ->check(CLI::Range(20, 60000))
        ->capture_default_str();

    UnitRequest get, set;
    auto* getCommand =
        app.add_subcommand("get", "read a unit: an input word, bit, channel or status");
    getCommand->footer(
        "  kalvo get DIO_1         input word      kalvo get DIO_1 out   output word\n"
        "  kalvo get DIO_1.5       input bit 5     kalvo get ADA_1.2     channel 2 input\n"
        "  kalvo get AXSA_1 status job 1 status    kalvo get SIO_1 receive  received text");
    getCommand->add_option("UNIT", get.unit, "DIO_1, DIO_1.5, ADA_2.3, AXSA_1, SIO_1")->required();
    getCommand->add_option("CHANNEL", get.channel, "bit, channel or job; in/out, status, receive");
    getCommand->add_option("--timeout-ms", get.timeoutMs, "SIO receive: how long to wait")
        ->check(CLI::Range(0, 600000))
        ->capture_default_str();

    auto* setCommand = app.add_subcommand("set", "write a unit: an output word, bit or channel");
    setCommand->footer(
        "  kalvo set DIO_1 0x00FF      output word    kalvo set DIO_1.5 1     output bit 5\n"
        "  kalvo set ADA_1.2 2048      channel 2      kalvo set SIO_1 send hello  send a text\n"
        "Outputs hold while a program using the library runs: the first program to load\n"
        "it starts the lines and clears their outputs.");
    // UNIT [CHANNEL] VALUE: the channel word is optional in the middle.
    std::vector<std::string> setWords;
    setCommand
        ->add_option("UNIT [CHANNEL] VALUE", setWords,
                     "the unit (DIO_1, DIO_1.5, ADA_2.3, SIO_1), a bit or channel number or "
                     "send, and the value (0x.. for hex) or the text to send")
        ->required()
        ->expected(2, 3)
        ->type_name("");
    setCommand->add_option("--timeout-ms", set.timeoutMs, "SIO send: how long to wait")
        ->check(CLI::Range(0, 600000))
        ->capture_default_str();

    auto* doctor = app.add_subcommand(
        "doctor", "explain every reason a program would fail in this folder (exit 1 if any)");
    std::string code;
    auto* strerror = app.add_subcommand("strerror", "the meaning of a Kalvo return code");
    strerror->add_option("CODE", code, "a return code of libKalvo or a board library (9, 0x11)")
        ->required();

    // For the shell completion and the man page: the commands, one a line.
    app.add_flag_callback(
           "--list-commands",
           [&app] {
               for (const CLI::App* sub : app.get_subcommands({}))
                   std::puts(sub->get_name().c_str());
               throw CLI::Success();
           },
           "")
        ->group("");

    if (const int end = kalvo::platform::parseCommandLine(app, argc, argv); end >= 0) return end;

    if (!folder.empty() && ::chdir(folder.c_str()) != 0) {
        std::fprintf(stderr, "kalvo: cannot change into the folder %s: %s\n", folder.c_str(),
                     std::strerror(errno));
        return kExitFailed;
    }
    if (!*doctor && !*strerror && ::access("Kalvo.ini", F_OK) != 0) {
        char here[4096];
        std::fprintf(stderr,
                     "kalvo: there is no Kalvo.ini in %s; run kalvo in a configuration folder or "
                     "give one with -C FOLDER (kalvo doctor explains more)\n",
                     ::getcwd(here, sizeof here) ? here : ".");
        return kExitFailed;
    }
    if (*status) return runStatus();
    if (*units) return runUnits(watch, intervalMs);
    if (*getCommand) return runGet(get);
    if (*setCommand) {
        set.unit = setWords.front();
        set.value = setWords.back();
        if (setWords.size() == 3) set.channel = setWords[1];
        return runSet(set);
    }
    if (*doctor) return runDoctor();
    if (*strerror) return runStrerror(code);
    return kExitUsage;
}
