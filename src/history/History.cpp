#include "history/History.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <utility>

#include "Product.h"
#include "settings/KeyRules.h"

namespace tarvel {
namespace {

// A CSV cell: quoted when it holds a comma, a quote or a line end.
std::string Cell(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string cell = "\"";
    for (char c : text) cell += c == '"' ? std::string("\"\"") : std::string(1, c);
    return cell + "\"";
}

std::string Cell(const HistoryValue& value) {
    if (const double* d = std::get_if<double>(&value)) {
        char text[64];
        auto [fine, error] = std::to_chars(text, text + sizeof text, *d);
        return error == std::errc() ? std::string(text, fine) : std::string();
    }
    if (const std::string* t = std::get_if<std::string>(&value)) return Cell(*t);
    return {};
}

}  // namespace

HistorySettingsRead ReadHistorySettings(const HistoryKeyReader& read) {
    using I = HistorySettings;
    HistorySettingsRead reading;
    reading.settings.file = read("File");
    const std::string days = read("Days");
    if (days.empty()) return reading;
    if (const auto n = WholeNumberIn(days, 1, I::MaxDays))
        reading.settings.days = static_cast<int>(*n);
    else
        reading.problems.push_back(
            BadValueText("History", "Days", days, RangeText(1, I::MaxDays)));
    return reading;
}

History::History(HistoryStore* store, const WallClock* wall, Clock& clock, Dialogs& dialogs)
    : store_(store), wall_(wall), clock_(clock), dialogs_(dialogs) {}

void History::Configure(const HistorySettings& settings,
                        const std::string& programFolder) {
    const std::string& file = settings.file;
    std::string path;
    if (store_ && wall_ && !file.empty())
        path = file.front() == '/' ? file : programFolder + "/" + file;
    // A reload that keeps the file keeps its hourly deletion and its message.
    if (path != path_) {
        lastCleanup_.reset();
        warned_ = false;
    }
    path_ = std::move(path);
    memory_ = {};
    days_ = settings.days;
    if (store_) store_->open(path_);
}

void History::CycleStart() {
    if (enabled()) start_ = wall_->now();
}

std::vector<HistoryRow> History::cycleRows(long number,
                                               const std::vector<Reading>& readings) const {
    std::vector<HistoryRow> historyRows;
    const std::string tempo = UtcText(start_);
    for (const Reading& r : readings) {
        HistoryRow h{tempo, number, r.device, r.name, {}, static_cast<int>(r.line), r.unit};
        if (r.quality == Quality::Good && r.constant)
            h.value = *r.constant;
        else if (const std::optional<double> value = ValueNumber(r))
            h.value = *value;
        historyRows.push_back(std::move(h));
    }
    return historyRows;
}

void History::RecordCycle(long number, const std::vector<Reading>& readings) {
    if (!enabled()) return;
    store_->append(cycleRows(number, readings));
    wipe();
    // Last: a message box lets the next cycles run before it returns.
    checkWrites();
}

// The database answers on its own thread: a failure shows at the cycle
// after it.
void History::checkWrites() {
    const HistoryState status = store_->state();
    if (!status.failing) {
        warned_ = false;
        return;
    }
    if (warned_) return;
    warned_ = true;
    dialogs_.messageBox(ProductName,
                        "Impossibile scrivere lo storico: i valori non vengono registrati "
                        "finché il file non torna scrivibile.",
                        Icon::Exclamation, Buttons::Ok, Answer::Ok, status.error);
}

void History::wipe() {
    const TimePoint nowTime = clock_.now();
    if (lastCleanup_ && nowTime - *lastCleanup_ < CleanupInterval) return;
    lastCleanup_ = nowTime;
    // In milliseconds, whose range holds any number of days from any time
    // of the clock: the bound is never later than now.
    const int days = std::clamp(days_, 1, HistorySettings::MaxDays);
    const TimeMs nowMs = std::chrono::floor<std::chrono::milliseconds>(wall_->now());
    store_->deleteBefore(UtcText(nowMs - std::chrono::days(days)));
}

std::vector<HistoryPoint> History::Trend(const std::string& name,
                                         std::chrono::seconds duration) const {
    if (!enabled()) return {};
    // The curve drawn last is kept: only the rows from its last time on are
    // read again, so a week of one-second cycles is read once.
    LastTrend& m = memory_;
    if (m.name != name || m.duration != duration) m = {name, duration, {}, {}};
    const WallTime from = wall_->now() - duration;
    while (!m.points.empty() && m.points.back().when == FromUtcText(m.latest)) m.points.pop_back();
    std::string error;
    const auto lines = store_->read({name}, m.latest.empty() ? UtcText(from) : m.latest, {}, error);
    for (const HistoryRow& r : lines) {
        m.latest = r.time;
        if (std::holds_alternative<std::string>(r.value)) continue;
        const double* value = std::get_if<double>(&r.value);
        m.points.push_back({FromUtcText(r.time), value ? std::optional(*value) : std::nullopt});
    }
    const auto firstOne = std::find_if(m.points.begin(), m.points.end(),
                                    [from](const HistoryPoint& p) { return p.when >= from; });
    m.points.erase(m.points.begin(), firstOne);
    return m.points.size() > MaxPoints ? Thin(m.points, from, duration) : m.points;
}

std::vector<HistoryPoint> History::ReadTrend(HistoryStore& store, const std::string& name,
                                             WallTime now, std::chrono::seconds duration) {
    const WallTime from = now - duration;
    std::string error;
    std::vector<HistoryPoint> points;
    for (const HistoryRow& r : store.read({name}, UtcText(from), {}, error)) {
        if (std::holds_alternative<std::string>(r.value)) continue;
        const double* value = std::get_if<double>(&r.value);
        points.push_back({FromUtcText(r.time), value ? std::optional(*value) : std::nullopt});
    }
    return points.size() > MaxPoints ? Thin(points, from, duration) : points;
}

// At most MaxPoints points: one per equal slice of the span, the mean of
// its values at the slice's middle, a gap where the slice holds only failed
// reads; a slice without rows gives nothing.
std::vector<HistoryPoint> History::Thin(const std::vector<HistoryPoint>& points, WallTime from,
                                          std::chrono::seconds duration) {
    const auto slice =
        std::chrono::duration_cast<WallTime::duration>(duration) / static_cast<long>(MaxPoints);
    std::vector<HistoryPoint> reduced;
    for (std::size_t i = 0; i < points.size();) {
        const auto n = std::max<long>(0, (points[i].when - from) / slice);
        const WallTime fine = from + (n + 1) * slice;
        double sum = 0;
        int howMany = 0;
        for (; i < points.size() && points[i].when < fine; ++i)
            if (points[i].value) {
                sum += *points[i].value;
                ++howMany;
            }
        reduced.push_back(
            {fine - slice / 2, howMany ? std::optional(sum / howMany) : std::nullopt});
    }
    return reduced;
}

bool History::ExportCsv(const std::vector<std::string>& names, const std::string& from,
                         const std::string& a, std::string& csv, std::string& error) const {
    if (!enabled()) {
        error = "[History] File: chiave mancante o vuota";
        return false;
    }
    error.clear();
    const auto lines = store_->read(names, from, a, error);
    if (!error.empty()) return false;
    // A name with the newest unit its rows of the span have: "Vac [V]".
    std::vector<std::string> units(names.size());
    for (const HistoryRow& row : lines)
        for (std::size_t k = 0; k < names.size(); ++k)
            if (names[k] == row.name && !row.unit.empty()) units[k] = row.unit;
    csv = "time";
    for (std::size_t k = 0; k < names.size(); ++k)
        csv += "," + Cell(units[k].empty() ? names[k] : names[k] + " [" + units[k] + "]");
    csv += "\n";
    // One line per cycle start; a name twice in a cycle gives its first.
    for (std::size_t i = 0; i < lines.size();) {
        std::vector<std::optional<std::string>> cells(names.size());
        std::size_t j = i;
        for (; j < lines.size() && lines[j].time == lines[i].time; ++j)
            for (std::size_t k = 0; k < names.size(); ++k)
                if (names[k] == lines[j].name && !cells[k]) cells[k] = Cell(lines[j].value);
        csv += lines[i].time;
        for (const auto& cell : cells) csv += "," + cell.value_or("");
        csv += "\n";
        i = j;
    }
    return true;
}

}  // namespace tarvel
