#pragma once
// The sqlite3 command-line tool, the independent reader and writer of the
// history files in the tests.

#include <cstdio>
#include <string>

namespace tarvel::test {

// A word for the shell, whatever it holds.
inline std::string ShellWord(const std::string& text) {
    std::string word = "'";
    for (char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

// The tool's answer to the statements on the file, "|" between columns;
// its error messages included.
inline std::string Sqlite(const std::string& file, const std::string& sql) {
    const std::string command =
        "sqlite3 -batch " + ShellWord(file) + " " + ShellWord(sql) + " 2>&1";
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;)
            out.append(buffer, n);
        ::pclose(p);
    }
    return out;
}

// The history table as the program makes it, for a history prepared by the tool.
inline const std::string HistoryTable =
    "CREATE TABLE history(time TEXT NOT NULL, cycle INTEGER NOT NULL, device INTEGER NOT NULL, "
    "name TEXT NOT NULL, value, line INTEGER NOT NULL);";

}  // namespace tarvel::test
