#include "platform/sqlite/SqliteJournal.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace tarvel {
namespace {

// What one message costs the cap besides its topic and payload: the row's
// own bytes and its share of the index.
constexpr std::int64_t RowOverhead = 24;

// A prepared statement, finalized when it goes out of scope.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    explicit operator bool() const { return stmt_ != nullptr; }
    sqlite3_stmt* get() const { return stmt_; }

  private:
    sqlite3_stmt* stmt_ = nullptr;
};

std::int64_t Cost(const MqttMessage& m) {
    return static_cast<std::int64_t>(m.topic.size() + m.payload.size()) + RowOverhead;
}

// SQLite's words, and for a failure of the system the system's own.
std::string Why(sqlite3* db) {
    std::string why = sqlite3_errmsg(db);
    const int code = sqlite3_errcode(db) & 0xff;
    if ((code == SQLITE_IOERR || code == SQLITE_CANTOPEN || code == SQLITE_FULL) &&
        sqlite3_system_errno(db) != 0)
        why += std::string(" (") + std::strerror(sqlite3_system_errno(db)) + ")";
    return why;
}

// A file that is there but cannot be a journal: damaged, not a database,
// not writable.
bool Unusable(int code) {
    for (const int c :
         {SQLITE_CORRUPT, SQLITE_NOTADB, SQLITE_READONLY, SQLITE_CANTOPEN, SQLITE_PERM})
        if ((code & 0xff) == c) return true;
    return false;
}

// The journal and its side files, renamed with the time and ".bad": kept
// for whoever wants to look, out of the new journal's way. A side file that
// cannot be moved is removed, so that the new journal never reads it.
bool MoveAside(const std::string& path, std::string& aside, std::string& error) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%dT%H%M%S", &local);
    aside = path + "." + when + ".bad";
    struct stat st {};
    for (int n = 2; ::lstat(aside.c_str(), &st) == 0; ++n)
        aside = path + "." + when + "-" + std::to_string(n) + ".bad";
    if (::rename(path.c_str(), aside.c_str()) != 0) {
        error = std::string("impossibile spostarlo (") + std::strerror(errno) + ")";
        return false;
    }
    for (const char* side : {"-wal", "-shm", "-journal"}) {
        const std::string from = path + side;
        if (::lstat(from.c_str(), &st) == 0 && ::rename(from.c_str(), (aside + side).c_str()) != 0)
            ::unlink(from.c_str());
    }
    return true;
}

}  // namespace

SqliteJournal::~SqliteJournal() { close(); }

void SqliteJournal::close() {
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
}

bool SqliteJournal::exec(const char* sql, std::string* error) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    if (error) *error = Why(db_);
    sqlite3_free(message);
    return false;
}

// Created for its owner alone (the messages may be private); SQLite gives
// its side files the same mode. In exclusive locking mode WAL keeps its
// index in the heap: no shared-memory file is mapped, so a disk that fails
// under it gives an error, never a SIGBUS.
bool SqliteJournal::openFile(const std::string& path, int& code, std::string& error) {
    // Also tells a file that cannot be written (read-only, immutable) by
    // the system's words.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        code = SQLITE_CANTOPEN;
        error = std::strerror(errno);
        return false;
    }
    ::close(fd);
    code = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (code != SQLITE_OK) {
        error = db_ ? Why(db_) : "out of memory";
        close();
        return false;
    }
    sqlite3_busy_timeout(db_, 2000);
    // WAL with NORMAL syncing: a crash or a power cut never damages the
    // file; a power cut may take the last few cycles with it.
    const char* schema =
        "PRAGMA locking_mode=EXCLUSIVE;"
        "PRAGMA mmap_size=0;"
        "PRAGMA journal_mode=WAL;"
        "PRAGMA synchronous=NORMAL;"
        "CREATE TABLE IF NOT EXISTS messages(id INTEGER PRIMARY KEY AUTOINCREMENT,"
        " topic TEXT NOT NULL, payload BLOB NOT NULL, qos INTEGER NOT NULL,"
        " retain INTEGER NOT NULL);"
        "CREATE TABLE IF NOT EXISTS counters(name TEXT PRIMARY KEY, value INTEGER NOT NULL);"
        "INSERT OR IGNORE INTO counters VALUES('bytes', 0), ('dropped', 0);";
    if (!exec(schema, &error)) {
        code = sqlite3_errcode(db_);
        close();
        return false;
    }
    return true;
}

bool SqliteJournal::open(const std::string& path, std::int64_t maxBytes, std::string& error) {
    std::lock_guard lock(mutex_);
    close();
    maxBytes_ = maxBytes;
    int code = SQLITE_OK;
    std::string cause;
    if (openFile(path, code, cause)) return true;
    error = path + ": " + cause;
    // Another program's lock, or a folder where nothing can be made: the
    // file, if any, is left as it is.
    struct stat st {};
    if (!Unusable(code) || ::lstat(path.c_str(), &st) != 0) return false;
    std::string aside;
    if (!MoveAside(path, aside, cause)) {
        error += "; " + cause;
        return false;
    }
    error += ": spostato in " + aside;
    if (!openFile(path, code, cause)) {
        error += "; un nuovo giornale non si apre: " + cause;
        return false;
    }
    error += ", iniziato un nuovo giornale";
    return true;
}

std::int64_t SqliteJournal::counter(const char* name) {
    Statement s(db_, "SELECT value FROM counters WHERE name = ?");
    if (!s) return 0;
    sqlite3_bind_text(s.get(), 1, name, -1, SQLITE_STATIC);
    return sqlite3_step(s.get()) == SQLITE_ROW ? sqlite3_column_int64(s.get(), 0) : 0;
}

// Drops the oldest messages, in batches, until the journal is under its cap.
bool SqliteJournal::makeRoom() {
    while (maxBytes_ > 0 && counter("bytes") > maxBytes_) {
        const char* sql =
            "WITH oldest AS (SELECT id, length(topic) + length(payload) + ? AS cost"
            "  FROM messages ORDER BY id LIMIT 64)"
            "UPDATE counters SET value = value - CASE name"
            "  WHEN 'bytes' THEN (SELECT coalesce(sum(cost), 0) FROM oldest)"
            "  ELSE -(SELECT count(*) FROM oldest) END;";
        Statement update(db_, sql);
        if (!update) return false;
        sqlite3_bind_int64(update.get(), 1, RowOverhead);
        if (sqlite3_step(update.get()) != SQLITE_DONE) return false;
        if (!exec(
                "DELETE FROM messages WHERE id IN (SELECT id FROM messages ORDER BY id LIMIT 64)"))
            return false;
        if (sqlite3_changes(db_) == 0) break;
    }
    return true;
}

bool SqliteJournal::append(const std::vector<MqttMessage>& messages, std::string& error) {
    std::lock_guard lock(mutex_);
    if (!db_) {
        error = "journal not open";
        return false;
    }
    if (!exec("BEGIN IMMEDIATE", &error)) return false;
    Statement insert(db_, "INSERT INTO messages(topic, payload, qos, retain) VALUES(?, ?, ?, ?)");
    Statement grow(db_, "UPDATE counters SET value = value + ? WHERE name = 'bytes'");
    bool ok = insert && grow;
    std::int64_t bytes = 0;
    for (const MqttMessage& m : messages) {
        if (!ok) break;
        sqlite3_bind_text(insert.get(), 1, m.topic.data(), static_cast<int>(m.topic.size()),
                          SQLITE_STATIC);
        sqlite3_bind_blob(insert.get(), 2, m.payload.data(), static_cast<int>(m.payload.size()),
                          SQLITE_STATIC);
        sqlite3_bind_int(insert.get(), 3, m.qos);
        sqlite3_bind_int(insert.get(), 4, m.retain ? 1 : 0);
        ok = sqlite3_step(insert.get()) == SQLITE_DONE;
        sqlite3_reset(insert.get());
        bytes += Cost(m);
    }
    if (ok) {
        sqlite3_bind_int64(grow.get(), 1, bytes);
        ok = sqlite3_step(grow.get()) == SQLITE_DONE && makeRoom();
    }
    if (ok && exec("COMMIT", &error)) return true;
    if (error.empty()) error = Why(db_);
    exec("ROLLBACK");
    return false;
}

std::vector<JournalEntry> SqliteJournal::next(std::int64_t afterId, std::size_t count) {
    std::lock_guard lock(mutex_);
    std::vector<JournalEntry> entries;
    if (!db_) return entries;
    Statement s(db_,
                "SELECT id, topic, payload, qos, retain FROM messages WHERE id > ? ORDER BY id "
                "LIMIT ?");
    if (!s) return entries;
    sqlite3_bind_int64(s.get(), 1, afterId);
    sqlite3_bind_int64(s.get(), 2, static_cast<sqlite3_int64>(count));
    while (sqlite3_step(s.get()) == SQLITE_ROW) {
        JournalEntry e;
        e.id = sqlite3_column_int64(s.get(), 0);
        const auto* topic = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 1));
        e.message.topic.assign(topic ? topic : "",
                               static_cast<std::size_t>(sqlite3_column_bytes(s.get(), 1)));
        const auto* payload = static_cast<const char*>(sqlite3_column_blob(s.get(), 2));
        e.message.payload.assign(payload ? payload : "",
                                 static_cast<std::size_t>(sqlite3_column_bytes(s.get(), 2)));
        e.message.qos = sqlite3_column_int(s.get(), 3);
        e.message.retain = sqlite3_column_int(s.get(), 4) != 0;
        entries.push_back(std::move(e));
    }
    return entries;
}

void SqliteJournal::remove(const std::vector<std::int64_t>& ids) {
    std::lock_guard lock(mutex_);
    if (!db_ || ids.empty() || !exec("BEGIN IMMEDIATE")) return;
    Statement cost(db_, "SELECT length(topic) + length(payload) FROM messages WHERE id = ?");
    Statement erase(db_, "DELETE FROM messages WHERE id = ?");
    std::int64_t freed = 0;
    for (const std::int64_t id : ids) {
        if (!cost || !erase) break;
        sqlite3_bind_int64(cost.get(), 1, id);
        if (sqlite3_step(cost.get()) == SQLITE_ROW) {
            freed += sqlite3_column_int64(cost.get(), 0) + RowOverhead;
            sqlite3_bind_int64(erase.get(), 1, id);
            sqlite3_step(erase.get());
            sqlite3_reset(erase.get());
        }
        sqlite3_reset(cost.get());
    }
    Statement shrink(db_, "UPDATE counters SET value = value - ? WHERE name = 'bytes'");
    if (shrink) {
        sqlite3_bind_int64(shrink.get(), 1, freed);
        sqlite3_step(shrink.get());
    }
    if (!exec("COMMIT")) exec("ROLLBACK");
}

std::int64_t SqliteJournal::size() {
    std::lock_guard lock(mutex_);
    if (!db_) return 0;
    Statement s(db_, "SELECT count(*) FROM messages");
    return s && sqlite3_step(s.get()) == SQLITE_ROW ? sqlite3_column_int64(s.get(), 0) : 0;
}

std::int64_t SqliteJournal::dropped() {
    std::lock_guard lock(mutex_);
    return db_ ? counter("dropped") : 0;
}

}  // namespace tarvel
