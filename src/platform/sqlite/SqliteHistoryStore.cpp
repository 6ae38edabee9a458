#include "platform/sqlite/SqliteHistoryStore.h"

#include <sqlite3.h>

#include <cstring>

namespace tarvel {
namespace {

constexpr const char* Schema =
    "PRAGMA journal_mode=WAL;"
    "PRAGMA synchronous=NORMAL;"
    "CREATE TABLE IF NOT EXISTS history(time TEXT NOT NULL, cycle INTEGER NOT NULL,"
    " device INTEGER NOT NULL, name TEXT NOT NULL, value, line INTEGER NOT NULL, unit TEXT);"
    "CREATE INDEX IF NOT EXISTS history_name_time ON history(name, time);"
    "CREATE INDEX IF NOT EXISTS history_time ON history(time);";

constexpr const char* Insert =
    "INSERT INTO history(time, cycle, device, name, value, line, unit)"
    " VALUES(?, ?, ?, ?, ?, ?, ?)";

// True when the history table has the unit column; a file made before the
// column was added has none.
bool HasUnitColumn(sqlite3* db) {
    sqlite3_stmt* s = nullptr;
    const bool has =
        sqlite3_prepare_v2(db, "SELECT unit FROM history LIMIT 0", -1, &s, nullptr) == SQLITE_OK;
    sqlite3_finalize(s);
    return has;
}

// Adds the unit column to a file made without it; its rows have none. Another
// program may have added it meanwhile.
bool AddUnitColumn(sqlite3* db) {
    return HasUnitColumn(db) ||
           sqlite3_exec(db, "ALTER TABLE history ADD COLUMN unit TEXT", nullptr, nullptr,
                        nullptr) == SQLITE_OK ||
           HasUnitColumn(db);
}

// SQLite's reason, with the system's when there is one.
std::string Reason(sqlite3* db, const std::string& path) {
    std::string reason = path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
    if (db && sqlite3_system_errno(db) != 0)
        reason += std::string(" (") + std::strerror(sqlite3_system_errno(db)) + ")";
    return reason;
}

void Bind(sqlite3_stmt* s, const HistoryRow& r) {
    sqlite3_bind_text(s, 1, r.time.c_str(), static_cast<int>(r.time.size()), SQLITE_STATIC);
    sqlite3_bind_int64(s, 2, r.cycle);
    sqlite3_bind_int(s, 3, r.device);
    sqlite3_bind_text(s, 4, r.name.c_str(), static_cast<int>(r.name.size()), SQLITE_STATIC);
    if (const double* d = std::get_if<double>(&r.value))
        sqlite3_bind_double(s, 5, *d);
    else if (const std::string* t = std::get_if<std::string>(&r.value))
        sqlite3_bind_text(s, 5, t->c_str(), static_cast<int>(t->size()), SQLITE_STATIC);
    else
        sqlite3_bind_null(s, 5);
    sqlite3_bind_int(s, 6, r.line);
    if (r.unit.empty())
        sqlite3_bind_null(s, 7);
    else
        sqlite3_bind_text(s, 7, r.unit.c_str(), static_cast<int>(r.unit.size()), SQLITE_STATIC);
}

std::string Text(sqlite3_stmt* s, int column) {
    const unsigned char* text = sqlite3_column_text(s, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<std::size_t>(sqlite3_column_bytes(s, column)))
                : std::string();
}

HistoryRow Row(sqlite3_stmt* s) {
    HistoryRow r;
    r.time = Text(s, 0);
    r.cycle = static_cast<long>(sqlite3_column_int64(s, 1));
    r.device = sqlite3_column_int(s, 2);
    r.name = Text(s, 3);
    switch (sqlite3_column_type(s, 4)) {
        case SQLITE_INTEGER:
        case SQLITE_FLOAT:
            r.value = sqlite3_column_double(s, 4);
            break;
        case SQLITE_NULL:
            break;
        default:
            r.value = Text(s, 4);
    }
    r.line = sqlite3_column_int(s, 5);
    r.unit = Text(s, 6);
    return r;
}

}  // namespace

SqliteHistoryStore::SqliteHistoryStore() = default;

SqliteHistoryStore::~SqliteHistoryStore() {
    if (worker_.joinable()) {
        waitIdle(std::chrono::seconds(2));
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        worker_.join();
    }
    closeDatabase();
}

void SqliteHistoryStore::open(const std::string& path) {
    {
        std::lock_guard lock(mutex_);
        if (path == path_) return;
        path_ = path;
        pathChanged_ = true;
        tasks_.clear();
        state_ = {};
    }
    if (!worker_.joinable() && !path.empty()) worker_ = std::thread([this] { run(); });
    wake_.notify_all();
}

void SqliteHistoryStore::append(std::vector<HistoryRow> rows) {
    {
        std::lock_guard lock(mutex_);
        if (path_.empty()) return;
        if (tasks_.size() >= MaxWaitingCycles) tasks_.pop_front();
        tasks_.push_back({std::move(rows), {}});
        stalled_ = false;
    }
    wake_.notify_one();
}

void SqliteHistoryStore::deleteBefore(const std::string& before) {
    {
        std::lock_guard lock(mutex_);
        if (path_.empty()) return;
        tasks_.push_back({{}, before});
        stalled_ = false;
    }
    wake_.notify_one();
}

HistoryState SqliteHistoryStore::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

bool SqliteHistoryStore::waitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(
        lock, timeout, [this] { return !busy_ && !pathChanged_ && (tasks_.empty() || stalled_); });
}

void SqliteHistoryStore::run() {
    std::unique_lock lock(mutex_);
    // After a failure the waiting rows are tried again when the next ones
    // come, that is once a cycle.
    for (;;) {
        wake_.wait(lock, [&] { return stop_ || pathChanged_ || (!tasks_.empty() && !stalled_); });
        if (stop_) break;
        if (pathChanged_) {
            pathChanged_ = false;
            stalled_ = false;
            const std::string path = path_;
            lock.unlock();
            closeDatabase();
            openPath_ = path;
            lock.lock();
            idle_.notify_all();
            continue;
        }
        Task task = std::move(tasks_.front());
        tasks_.pop_front();
        busy_ = true;
        lock.unlock();
        bool again = false;
        const bool done = perform(task, again);
        lock.lock();
        busy_ = false;
        if (pathChanged_) continue;  // the task was for the old file
        stalled_ = !done;
        if (!done)
            tasks_.push_front(std::move(task));
        else if (again)
            tasks_.push_back(std::move(task));
        if (tasks_.empty() || stalled_) idle_.notify_all();
    }
}

// Called on the worker without the lock; state_ is set under it.
void SqliteHistoryStore::fail(const std::string& what) {
    {
        std::lock_guard lock(mutex_);
        state_ = {true, what};
    }
    closeDatabase();
}

bool SqliteHistoryStore::perform(Task& task, bool& again) {
    if (openPath_.empty()) return true;
    if (!ensureOpen()) return false;
    const bool done =
        task.deleteBefore.empty() ? writeRows(task.rows) : deleteBatch(task.deleteBefore, again);
    if (done) {
        std::lock_guard lock(mutex_);
        state_ = {};
    }
    return done;
}

bool SqliteHistoryStore::ensureOpen() {
    if (db_) return true;
    const int rc = sqlite3_open_v2(openPath_.c_str(), &db_,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK || sqlite3_exec(db_, Schema, nullptr, nullptr, nullptr) != SQLITE_OK ||
        !AddUnitColumn(db_)) {
        fail(Reason(db_, openPath_));
        return false;
    }
    sqlite3_busy_timeout(db_, 1000);
    return true;
}

bool SqliteHistoryStore::writeRows(const std::vector<HistoryRow>& rows) {
    sqlite3_stmt* insert = nullptr;
    bool ok = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(db_, Insert, -1, &insert, nullptr) == SQLITE_OK;
    for (std::size_t i = 0; ok && i < rows.size(); ++i) {
        Bind(insert, rows[i]);
        ok = sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    if (ok) ok = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok) {
        const std::string reason = Reason(db_, openPath_);
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        fail(reason);
    }
    return ok;
}

bool SqliteHistoryStore::deleteBatch(const std::string& before, bool& more) {
    sqlite3_stmt* s = nullptr;
    bool ok = sqlite3_prepare_v2(db_,
                                 "DELETE FROM history WHERE rowid IN (SELECT rowid FROM history"
                                 " WHERE time < ? LIMIT ?)",
                                 -1, &s, nullptr) == SQLITE_OK;
    if (ok) {
        sqlite3_bind_text(s, 1, before.c_str(), static_cast<int>(before.size()), SQLITE_STATIC);
        sqlite3_bind_int(s, 2, DeleteBatch);
        ok = sqlite3_step(s) == SQLITE_DONE;
    }
    sqlite3_finalize(s);
    if (!ok) {
        fail(Reason(db_, openPath_));
        return false;
    }
    more = sqlite3_changes(db_) == DeleteBatch;
    return true;
}

void SqliteHistoryStore::closeDatabase() {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
}

std::vector<HistoryRow> SqliteHistoryStore::read(const std::vector<std::string>& names,
                                                 const std::string& from, const std::string& to,
                                                 std::string& error) {
    std::string path;
    {
        std::lock_guard lock(mutex_);
        path = path_;
    }
    if (path.empty()) {
        error = "nessun file di storico";
        return {};
    }
    waitIdle(std::chrono::seconds(2));
    std::string where = " FROM history WHERE name IN (";
    for (std::size_t i = 0; i < names.size(); ++i) where += i ? ",?" : "?";
    where += ")";
    if (!from.empty()) where += " AND time >= ?";
    if (!to.empty()) where += " AND time < ?";
    where += " ORDER BY time, line";

    sqlite3* db = nullptr;
    sqlite3_stmt* s = nullptr;
    std::vector<HistoryRow> rows;
    bool ok = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK;
    // Read-only: a file made before the unit column is read as it is.
    const std::string sql = std::string("SELECT time, cycle, device, name, value, line, ") +
                            (ok && !HasUnitColumn(db) ? "NULL" : "unit") + where;
    ok = ok && sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK;
    if (ok) {
        sqlite3_busy_timeout(db, 1000);
        int n = 0;
        for (const auto& name : names)
            sqlite3_bind_text(s, ++n, name.c_str(), static_cast<int>(name.size()), SQLITE_STATIC);
        if (!from.empty())
            sqlite3_bind_text(s, ++n, from.c_str(), static_cast<int>(from.size()), SQLITE_STATIC);
        if (!to.empty())
            sqlite3_bind_text(s, ++n, to.c_str(), static_cast<int>(to.size()), SQLITE_STATIC);
        int rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) rows.push_back(Row(s));
        ok = rc == SQLITE_DONE;
    }
    if (!ok) {
        error = Reason(db, path);
        rows.clear();
    }
    sqlite3_finalize(s);
    sqlite3_close_v2(db);
    return rows;
}

}  // namespace tarvel
