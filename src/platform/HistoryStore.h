#pragma once
// The history database: the rows of every cycle, written off the cycle's
// thread, and read back by name and time.

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tarvel {

// A stored value: nothing for a failed read, a number for a read, a text for
// a constant.
using HistoryValue = std::variant<std::monostate, double, std::string>;

// One value of one cycle.
struct HistoryRow {
    std::string time;  // the cycle's start, UTC: 2026-12-07T12:04:37.120Z
    long cycle = 0;    // from 1 at each start of the program
    int device = 0;    // from 1, the groups between next-device lines
    std::string name;
    HistoryValue value;
    int line = 0;  // the request line's index, from 0
    std::string unit;  // the line's unit; empty (NULL in the file) for none
};

struct HistoryState {
    bool failing = false;  // the last write failed; rows wait to be written
    std::string error;     // why, naming the file
};

class HistoryStore {
  public:
    virtual ~HistoryStore() = default;
    // Writes into the database at path from now on (created when missing);
    // an empty path writes nowhere. Returns at once: a file that cannot be
    // opened shows in state().
    virtual void open(const std::string& path) = 0;
    // Takes one cycle's rows, to be written in one transaction; returns at
    // once. Rows that cannot be written wait and are tried again with the
    // next ones.
    virtual void append(std::vector<HistoryRow> rows) = 0;
    // Deletes the rows older than `before` (a time as in the rows), in small
    // batches between the writes; returns at once.
    virtual void deleteBefore(const std::string& before) = 0;
    virtual HistoryState state() const = 0;
    // The rows of the names with `from` <= time < `to` (empty: no bound), in
    // time order and then line order, once every row handed in before has
    // been written (or could not be). Fills error and gives nothing when the
    // database cannot be read.
    virtual std::vector<HistoryRow> read(const std::vector<std::string>& names,
                                         const std::string& from, const std::string& to,
                                         std::string& error) = 0;
};

}  // namespace tarvel
