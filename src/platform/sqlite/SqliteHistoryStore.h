#pragma once
// The history in an SQLite database in WAL mode: one table, indexed by name
// and time. A worker thread writes each cycle's rows in one transaction, so
// the cycle only hands them over.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/HistoryStore.h"

struct sqlite3;

namespace tarvel {

class SqliteHistoryStore : public HistoryStore {
  public:
    SqliteHistoryStore();
    // Writes what is waiting, for at most two seconds, then closes.
    ~SqliteHistoryStore() override;
    SqliteHistoryStore(const SqliteHistoryStore&) = delete;
    SqliteHistoryStore& operator=(const SqliteHistoryStore&) = delete;

    void open(const std::string& path) override;
    void append(std::vector<HistoryRow> rows) override;
    void deleteBefore(const std::string& before) override;
    HistoryState state() const override;
    std::vector<HistoryRow> read(const std::vector<std::string>& names, const std::string& from,
                                 const std::string& to, std::string& error) override;

    // Waits until nothing is left to write or a write failed; false when the
    // time ran out.
    bool waitIdle(std::chrono::milliseconds timeout);

    // Rows deleted per transaction by deleteBefore; cycles kept while the
    // file cannot be written (the oldest go first).
    static constexpr int DeleteBatch = 1000;
    static constexpr std::size_t MaxWaitingCycles = 10000;

  private:
    struct Task {
        std::vector<HistoryRow> rows;  // a cycle's rows, or
        std::string deleteBefore;      // a batch of deletions
    };
    void run();
    bool perform(Task& task, bool& again);
    bool ensureOpen();
    bool writeRows(const std::vector<HistoryRow>& rows);
    bool deleteBatch(const std::string& before, bool& more);
    void fail(const std::string& what);
    void closeDatabase();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Task> tasks_;
    std::string path_;
    bool pathChanged_ = false;
    bool busy_ = false;
    bool stop_ = false;
    bool stalled_ = false;  // a write failed: the next task handed in retries
    HistoryState state_;
    std::thread worker_;
    // The worker's own.
    sqlite3* db_ = nullptr;
    std::string openPath_;
};

}  // namespace tarvel
