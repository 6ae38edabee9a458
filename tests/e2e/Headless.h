#pragma once
// The end-to-end tests' helpers: a settings file for tarvel-headless on the
// simulator's port, the output file it should write, and the logger run as
// a process of its own on a program folder.

#include <regex>

#include "SimProcess.h"

namespace tarvel::test {

using Stream = ChildProcess::Stream;

// Profile 0 on COM1, which is the device: 9600,N,8,1, one try; then `more`
// (keys of Serial_0 first, then other sections) and the request lines 001,
// 002, ...
inline std::string Settings(const std::string& device, const std::vector<std::string>& lines,
                            const std::string& more = "", int intervalMs = 1000,
                            int timeOutMs = 300) {
    std::string text =
        "[Ports]\nCOM1=" + device +
        "\n[Serial_0]\nCOM=1\nSettings=9600,N,8,1\nRetry=1\nTimeOut=" + std::to_string(timeOutMs) +
        "\n" + more + "[Parameters]\nFirt=1\nLast=" + std::to_string(lines.size()) +
        "\nInterval=" + std::to_string(intervalMs);
    for (std::size_t i = 0; i < lines.size(); ++i)  // 1001 + i: its last three digits
        text += "\n" + std::to_string(1001 + i).substr(1) + "=" + lines[i];
    return text + "\n";
}

// Through a temporary file and a rename: a running logger reads the old
// file or the new one.
inline void WriteSettings(const TempFolder& folder, const std::string& text) {
    WriteFile(folder / "Tarvel.new", text);
    std::filesystem::rename(folder / "Tarvel.new", folder / "Tarvel.INI");
}

// The logger without windows on a program folder.
struct Headless {
    bool start(const TempFolder& folder, std::vector<std::string> arguments = {},
               const std::string& workingFolder = {}) {
        arguments.insert(arguments.begin(), {"--folder", folder.path().string()});
        return process.start(ProgramBeside("tarvel-headless"), arguments, workingFolder);
    }
    // Runs to the end; the exit code.
    std::optional<int> run(const TempFolder& folder, const std::vector<std::string>& arguments) {
        return start(folder, arguments) ? process.waitExit(30s) : std::nullopt;
    }
    // The lines so far that start with the text, their duration written as N.
    std::vector<std::string> lines(Stream stream, const std::string& start = "") const {
        static const std::regex duration("durata [0-9]+ ms");
        std::vector<std::string> found;
        for (const auto& line : process.lines(stream))
            if (line.starts_with(start))
                found.push_back(std::regex_replace(line, duration, "durata N ms"));
        return found;
    }
    std::vector<std::string> cycles() const { return lines(Stream::Out, "Ciclo "); }

    ChildProcess process;
};

}  // namespace tarvel::test
