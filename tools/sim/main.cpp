// tarvel-sim: Modbus-RTU slave devices on a pseudo-terminal, with live
// values and injected faults, for testing the program against a bus that is
// not its own code. See --help.

#include <cstdio>
#include <string_view>

#include "Options.h"
#include "Product.h"
#include "Simulator.h"

int main(int argc, char** argv) {
    tarvel::sim::Options options;
    std::string error;
    if (!tarvel::sim::ParseOptions(argc, argv, options, error)) {
        // The message, then the usage and the options (the map format is
        // in --help).
        const std::string_view help = tarvel::sim::kHelpText;
        const std::string_view usage = help.substr(0, help.find("\nMap file:"));
        std::fprintf(stderr, "tarvel-sim: %s\n\n%.*s\n", error.c_str(),
                     static_cast<int>(usage.size()), usage.data());
        return 2;
    }
    if (options.help) {
        std::fputs(tarvel::sim::kHelpText, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("tarvel-sim %s\n", tarvel::ProductVersion().c_str());
        return 0;
    }
    tarvel::sim::Simulator simulator(std::move(options));
    return simulator.run();
}
