#pragma once
// The request list split by port, for polling the ports at the same time.
// Each serial line starts a stretch on the port its profile names, up to
// the next serial line; the lines before the list's first serial line are
// a stretch on profile 0's port. The stretches on one port (one device or
// gateway address) make that port's part, in list order.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/Chiamata.h"

namespace tarvel {

struct Stretch {
    // The profile it runs on; nothing when its serial line names no number.
    std::optional<std::int16_t> profile;
    // The serial line that starts it; nothing for the lines before the
    // list's first serial line, which run on profile 0.
    std::optional<std::size_t> serialLine;
    std::vector<std::size_t> lines;  // the lines after it, in order
};

struct PortPart {
    std::string port;  // the device or gateway; empty: a profile that names none
    std::vector<Stretch> stretches;
    // Every line of the part, its serial lines included, in list order.
    std::vector<std::size_t> allLines() const;
};

// The port a profile names; nothing when the profile cannot be read.
using PortOfProfile = std::function<std::optional<std::string>(std::int16_t profile)>;

// The parts of the list, in the order of their first line. A stretch whose
// profile names no port is a part of its own, where the profile fails.
std::vector<PortPart> SplitByPort(const std::vector<RequestLine>& lines,
                                  const PortOfProfile& portOf);

}  // namespace tarvel
