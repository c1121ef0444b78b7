// The one way every program of the stack parses its command line (CLI11):
// --help and --version print and end with status 0; a bad option or value
// is named with the program, and the status is 2.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

namespace kalvo::platform {

// -1 when the program goes on; else the exit status to end with.
inline int parseCommandLine(CLI::App& app, int argc, char** argv) {
    try {
        app.parse(argc, argv);
        return -1;
    } catch (const CLI::Success& e) {
        return app.exit(e);  // --help, --help-all, --version
    } catch (const CLI::ParseError& e) {
        // An unknown option explains a missing argument after it, so it
        // goes first.
        std::string reason = e.what();
        for (const std::string& word : app.remaining())
            if (word.size() > 1 && word[0] == '-') {
                reason = "unknown option " + word;
                break;
            }
        std::fprintf(stderr, "%s: %s (see %s --help)\n", app.get_name().c_str(), reason.c_str(),
                     app.get_name().c_str());
        return 2;
    }
}

}  // namespace kalvo::platform
