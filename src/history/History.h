#pragma once
// The history: after every cycle, once the output is written, one row per
// value of the cycle goes to the history database ([History] File), old
// rows are deleted after [History] Days, and the database is read back for
// the trend window and the CSV export. The database works off the cycle's
// thread; a cycle only hands its rows over.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/Chiamata.h"
#include "acquisition/Reading.h"
#include "history/UtcTime.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/HistoryStore.h"
#include "platform/WallClock.h"

namespace tarvel {

// One point of a curve: nothing for a failed read, drawn as a gap.
struct HistoryPoint {
    WallTime when;
    std::optional<double> value;
};

// [History] as read and checked.
struct HistorySettings {
    static constexpr int DefaultDays = 90;
    static constexpr int MaxDays = 36500;
    std::string file;  // as written; empty: no history
    int days = DefaultDays;
};

struct HistorySettingsRead {
    HistorySettings settings;
    // One line for each key with a bad value, naming it and the value:
    // the section is then refused.
    std::vector<std::string> problems;
};

// Reads a key of [History]; empty when missing.
using HistoryKeyReader = std::function<std::string(const std::string& key)>;

// File as written; Days a whole number from 1 to MaxDays, empty or
// missing for 90.
HistorySettingsRead ReadHistorySettings(const HistoryKeyReader& read);

class History {
  public:
    static constexpr std::chrono::hours CleanupInterval{1};

    History(HistoryStore* store, const WallClock* wall, Clock& clock, Dialogs& dialogs);

    // The checked settings: an empty file is off, a relative one is in the
    // program folder.
    void Configure(const HistorySettings& settings, const std::string& programFolder);
    bool enabled() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    int days() const { return days_; }

    void CycleStart();
    // The cycle's rows to the database; a history that stopped writing is
    // told once, until it writes again.
    void RecordCycle(long number, const std::vector<Reading>& readings);

    // The values of one name over the last `duration`, in time order; more
    // than MaxPoints are thinned to as many means of equal slices.
    std::vector<HistoryPoint> Trend(const std::string& name, std::chrono::seconds duration) const;
    static constexpr std::size_t MaxPoints = 1000;
    // The same curve read whole from the store, keeping nothing: for a
    // thread other than the cycle's.
    static std::vector<HistoryPoint> ReadTrend(HistoryStore& store, const std::string& name,
                                               WallTime now, std::chrono::seconds duration);
    // The names as columns, one row per cycle start in [from, a) (empty: no
    // bound), comma-separated with a header line that gives each name the
    // newest unit its rows have ("Vac [V]"); false with error when the
    // database cannot be read.
    bool ExportCsv(const std::vector<std::string>& names, const std::string& from,
                    const std::string& a, std::string& csv, std::string& error) const;

  private:
    std::vector<HistoryRow> cycleRows(long number, const std::vector<Reading>& readings) const;
    static std::vector<HistoryPoint> Thin(const std::vector<HistoryPoint>& points, WallTime from,
                                            std::chrono::seconds duration);
    void wipe();
    void checkWrites();

    HistoryStore* store_;
    const WallClock* wall_;
    Clock& clock_;
    Dialogs& dialogs_;
    std::string path_;
    int days_ = HistorySettings::DefaultDays;
    WallTime start_{};
    std::optional<TimePoint> lastCleanup_;
    bool warned_ = false;
    // The last curve asked for, with the time of its last row.
    struct LastTrend {
        std::string name;
        std::chrono::seconds duration{0};
        std::vector<HistoryPoint> points;
        std::string latest;
    };
    mutable LastTrend memory_;
};

}  // namespace tarvel
