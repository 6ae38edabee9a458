#include "acquisition/PortPlan.h"

#include <algorithm>

namespace tarvel {

std::vector<std::size_t> PortPart::allLines() const {
    std::vector<std::size_t> all;
    for (const Stretch& s : stretches) {
        if (s.serialLine) all.push_back(*s.serialLine);
        all.insert(all.end(), s.lines.begin(), s.lines.end());
    }
    return all;
}

std::vector<PortPart> SplitByPort(const std::vector<RequestLine>& lines,
                                  const PortOfProfile& portOf) {
    std::vector<Stretch> stretches;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == LineKind::Serial)
            stretches.push_back({lines[i].profile, i, {}});
        else if (stretches.empty())
            stretches.push_back({std::int16_t{0}, std::nullopt, {i}});
        else
            stretches.back().lines.push_back(i);
    }
    std::vector<PortPart> parts;
    for (Stretch& s : stretches) {
        const std::optional<std::string> port =
            s.profile ? portOf(*s.profile) : std::optional<std::string>();
        const std::string name = port.value_or("");
        const auto same = [&](const PortPart& p) { return !name.empty() && p.port == name; };
        const auto it = std::find_if(parts.begin(), parts.end(), same);
        if (it == parts.end())
            parts.push_back({name, {std::move(s)}});
        else
            it->stretches.push_back(std::move(s));
    }
    return parts;
}

}  // namespace tarvel
