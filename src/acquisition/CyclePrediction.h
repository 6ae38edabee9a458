#pragma once
// How long a list's cycle should take on each port, from the settings
// alone: BEST when every device answers at once, WORST when every device
// stays silent, and the share of BEST in which the line carries bytes.
//
// The model: each request and its answer take their bytes times the
// profile's bits per character over the baud rate (an RTU request 8 bytes;
// an answer 5 bytes and 2 a register, or 5 and 1 for every 8 coils or
// inputs); with Pause set, a request waits for the end-of-frame silence
// that the pause before it did not cover; a line waits the profile's Pause
// before it, a SLEEP line its milliseconds, a serial line the 100 ms after
// opening its port; block reads and scale registers as a cycle reads them.
// A silent device costs each attempt its TimeOut (Retry attempts, each item
// of a value in each), and after Skip failed lines of a node its other
// lines cost nothing. On a gateway the bytes cost no time (its network
// time is not known beforehand). A group with a period counts the share of
// the cycles that read it: 1 in k, k = period / (the cycle of the lines
// outside groups + Interval), rounded up. The interval itself is left out.

#include <functional>
#include <string>
#include <vector>

#include "acquisition/Chiamata.h"
#include "modbus/SerialProfile.h"
#include "platform/Clock.h"

namespace tarvel {

struct PortForecast {
    std::string com;  // the profile's COM number as written
    double bestMs = 0;
    double worstMs = 0;
    double busyPercent = 0;  // of bestMs
};

struct CycleSettings {
    const std::vector<RequestLine>& lines;
    // The profile with that number; nothing when it cannot be used.
    std::function<const SerialProfile*(std::int16_t)> profile;
    // True for a COM number whose port is a gateway (tcp://, mbtcp://).
    std::function<bool(const std::string& com)> network;
    Millis interval{1000};
};

// Each port the list uses, in the order it first uses them; nothing when
// profile 0 cannot be used.
std::vector<PortForecast> PredictCycle(const CycleSettings& settings);

// A number with one decimal: "12.3".
std::string FormatTenths(double value);

}  // namespace tarvel
