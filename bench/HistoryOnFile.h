#pragma once
// The history stage of the benchmarks: a real SQLite file in a temporary
// folder, a real wall clock, fakes for the rest.

#include "FakeClock.h"
#include "FakePlatform.h"
#include "TempFolder.h"
#include "history/History.h"
#include "platform/posix/SystemWallClock.h"
#include "platform/sqlite/SqliteHistoryStore.h"

namespace tarvel::bench {

struct HistoryOnFile {
    HistoryOnFile() { historyLog.Configure({"storico.db"}, folder.path().string()); }

    test::TempFolder folder;
    SqliteHistoryStore store;
    SystemWallClock wall;
    fakes::FakeClock clock;
    fakes::FakeDialogs dialogs;
    History historyLog{&store, &wall, clock, dialogs};
};

// One reading of a cycle: a constant, a failed read, or a read of 230.x.
inline Reading Letta(std::size_t line, int device, const std::string& name, bool constant,
                     bool failed) {
    Reading r;
    r.line = line;
    r.device = device;
    r.name = name;
    r.quality = failed ? Quality::Failed : Quality::Good;
    if (constant) r.constant = "Roof A";
    const auto tenths = static_cast<std::uint64_t>(2300 + line % 10);
    if (!constant && !failed)
        r.number = ParsedNumber{static_cast<double>(tenths), true, false, tenths};
    r.decimals = 1;
    return r;
}

}  // namespace tarvel::bench
