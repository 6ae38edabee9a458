#pragma once
// The journal in an SQLite file in WAL mode, locked for this program alone:
// one row per message, its size and the count of dropped messages in a
// table beside it. Safe to use from several threads.

#include <mutex>

#include "platform/Journal.h"

struct sqlite3;

namespace tarvel {

class SqliteJournal : public Journal {
  public:
    SqliteJournal() = default;
    ~SqliteJournal() override;
    SqliteJournal(const SqliteJournal&) = delete;
    SqliteJournal& operator=(const SqliteJournal&) = delete;

    bool open(const std::string& path, std::int64_t maxBytes, std::string& error) override;
    bool append(const std::vector<MqttMessage>& messages, std::string& error) override;
    std::vector<JournalEntry> next(std::int64_t afterId, std::size_t count) override;
    void remove(const std::vector<std::int64_t>& ids) override;
    std::int64_t size() override;
    std::int64_t dropped() override;

  private:
    bool openFile(const std::string& path, int& code, std::string& error);
    bool exec(const char* sql, std::string* error = nullptr);
    std::int64_t counter(const char* name);
    bool makeRoom();
    void close();

    std::mutex mutex_;
    sqlite3* db_ = nullptr;
    std::int64_t maxBytes_ = 0;
};

}  // namespace tarvel
