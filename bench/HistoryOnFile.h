#pragma once
// The history stage of the benchmarks: a real SQLite file in a temporary
// folder, a real wall clock, fakes for the rest.

#include "FakeClock.h"
#include "FakePlatform.h"
#include "TempFolder.h"
#include "history/Storico.h"
#include "platform/posix/SystemWallClock.h"
#include "platform/sqlite/SqliteHistoryStore.h"

namespace tarvel::bench {

struct HistoryOnFile {
    HistoryOnFile() { storico.Configura({"storico.db"}, folder.path().string()); }

    test::TempFolder folder;
    SqliteHistoryStore store;
    SystemWallClock wall;
    fakes::FakeClock clock;
    fakes::FakeDialogs dialogs;
    Storico storico{&store, &wall, clock, dialogs};
};

}  // namespace tarvel::bench
