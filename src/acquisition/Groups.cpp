#include "acquisition/Groups.h"

namespace tarvel {
namespace {

bool isValueLine(const RequestLine& line) {
    return line.kind == LineKind::Read || line.kind == LineKind::Constant;
}

// The EVERY line that governs each value line with a period above 0.
std::vector<std::optional<std::size_t>> GroupsOfLines(const std::vector<RequestLine>& lines) {
    std::vector<std::optional<std::size_t>> groups(lines.size());
    std::optional<std::size_t> current;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const RequestLine& line = lines[i];
        if (line.kind == LineKind::Every)
            current = line.period && line.period->count() > 0 ? std::optional(i) : std::nullopt;
        else if (isValueLine(line))
            groups[i] = current;
    }
    return groups;
}

}  // namespace

std::vector<Millis> PeriodsOfLines(const std::vector<RequestLine>& lines) {
    const auto groups = GroupsOfLines(lines);
    std::vector<Millis> periods(lines.size(), Millis(0));
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (groups[i]) periods[i] = *lines[*groups[i]].period;
    return periods;
}

void GroupSchedule::load(const std::vector<RequestLine>& lines) {
    groupOf_ = GroupsOfLines(lines);
    periodOf_ = PeriodsOfLines(lines);
    lastRead_.assign(lines.size(), std::nullopt);
    due_.assign(lines.size(), true);
}

void GroupSchedule::startCycle(TimePoint start) {
    start_ = start;
    for (std::size_t i = 0; i < groupOf_.size(); ++i) {
        if (!groupOf_[i]) continue;
        const std::size_t g = *groupOf_[i];
        due_[g] = !lastRead_[g] || start - *lastRead_[g] >= periodOf_[i];
    }
}

[[gnu::hot]] bool GroupSchedule::due(std::size_t index) const {
    return index >= groupOf_.size() || !groupOf_[index] || due_[*groupOf_[index]];
}

bool GroupSchedule::grouped(std::size_t index) const {
    return index < groupOf_.size() && groupOf_[index].has_value();
}

[[gnu::hot]] void GroupSchedule::read(std::size_t index) {
    if (index < groupOf_.size() && groupOf_[index]) lastRead_[*groupOf_[index]] = start_;
}

}  // namespace tarvel
