// tarvel-sim: Modbus-RTU slave devices on a pseudo-terminal, with live
// values and injected faults, for testing the program against a bus that is
// not its own code. See --help.

#include <cstdio>

#include "Options.h"
#include "Simulator.h"

int main(int argc, char** argv) {
    tarvel::sim::Options options;
    std::string error;
    if (!tarvel::sim::ParseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "tarvel-sim: %s (see --help)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(tarvel::sim::kHelpText, stdout);
        return 0;
    }
    tarvel::sim::Simulator simulator(std::move(options));
    return simulator.run();
}
