#pragma once
// Helpers of the end-to-end tests: settings files, the logger without
// windows and its cycle reports, and the documents it is expected to write.

#include <cstdio>
#include <map>
#include <regex>

#include "SimProcess.h"

namespace e2e {

namespace fs = std::filesystem;
using namespace tarvel::test;
using Stream = ChildProcess::Stream;

// A settings file: port COM1 on the given device, profile 0 on COM1 with a
// short time-out.
class Settings {
  public:
    explicit Settings(const std::string& link) { set("Ports", "COM1", link).profile(0); }
    Settings& set(const std::string& section, const std::string& key, const std::string& value) {
        sections_[section][key] = value;
        return *this;
    }
    // A profile on COM1 with the same line settings as profile 0.
    Settings& profile(int number) {
        const std::string s = "Serial_" + std::to_string(number);
        set(s, "COM", "1").set(s, "Settings", "9600,N,8,1").set(s, "TimeOut", "300");
        return set(s, "Retry", "1");
    }
    // Firt, Last, Interval and the numbered lines of section Parameters.
    Settings& requestLines(const std::vector<std::string>& lines, int intervalMs = 1000) {
        set("Parameters", "Firt", "1").set("Parameters", "Last", std::to_string(lines.size()));
        set("Parameters", "Interval", std::to_string(intervalMs));
        for (std::size_t i = 0; i < lines.size(); ++i) {
            char key[24];
            std::snprintf(key, sizeof key, "%03zu", i + 1);
            set("Parameters", key, lines[i]);
        }
        return *this;
    }
    // Through a temporary file and a rename: the logger reads the old file
    // or the new one.
    void writeTo(const TempFolder& folder) const {
        std::string text;
        for (const auto& [section, keys] : sections_) {
            text += "[" + section + "]\n";
            for (const auto& [key, value] : keys) text += key + "=" + value + "\n";
        }
        WriteFile(folder / "Tarvel.new", text);
        fs::rename(folder / "Tarvel.new", folder / "Tarvel.INI");
    }

  private:
    std::map<std::string, std::map<std::string, std::string>> sections_;
};

// The output document for the given devices, each a list of value elements.
inline std::string ExpectedXml(const std::vector<std::vector<std::string>>& devices,
                               const std::string& encoding = "UTF-8") {
    std::string text = "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>\r\n";
    text += "  <Dispositivi>\r\n\r\n";
    for (const auto& device : devices) {
        text += "    <Dispositivo>\r\n";
        for (const auto& element : device) text += "      " + element + "\r\n";
        text += "    </Dispositivo>\r\n\r\n";
    }
    return text + "  </Dispositivi>\r\n";
}

// A whole document: the declaration first, the closing root element last.
inline bool IsWholeDocument(const std::string& text) {
    const std::string head = "<?xml version=\"1.0\" encoding=\"";
    const std::string tail = "  </Dispositivi>\r\n";
    return text.size() >= head.size() + tail.size() && text.starts_with(head) &&
           text.ends_with(tail);
}

// One line "Ciclo n: ..." of the runner.
struct CycleReport {
    long number = 0;
    int executed = 0;
    int failed = 0;
    std::vector<std::string> files;
};

inline std::optional<CycleReport> ParseCycleLine(const std::string& line) {
    static const std::regex pattern(
        R"(^Ciclo (\d+): righe eseguite (\d+), letture fallite (\d+), durata \d+ ms, )"
        R"(file scritti: (.*)$)");
    std::smatch match;
    if (!std::regex_match(line, match, pattern)) return std::nullopt;
    CycleReport report{std::stol(match[1]), std::stoi(match[2]), std::stoi(match[3]), {}};
    const std::string files = match[4];
    for (std::size_t start = 0; files != "-" && start <= files.size();) {
        const auto comma = files.find(", ", start);
        report.files.push_back(files.substr(start, comma - start));
        start = comma == std::string::npos ? files.size() + 1 : comma + 2;
    }
    return report;
}

// The logger without windows, on a program folder.
struct Runner {
    bool start(const TempFolder& folder, std::vector<std::string> arguments = {},
               const SpawnOptions& options = {}) {
        arguments.insert(arguments.begin(), {"--folder", folder.path().string()});
        return process.start(ProgramBeside("tarvel-headless"), arguments, options);
    }
    // Runs to the end; the exit code.
    std::optional<int> run(const TempFolder& folder, const std::vector<std::string>& arguments,
                           const SpawnOptions& options = {}) {
        return start(folder, arguments, options) ? process.waitExit(30s) : std::nullopt;
    }
    // The report of cycle n, waiting for it.
    std::optional<CycleReport> waitForCycle(long number, std::chrono::milliseconds timeout) {
        auto line = process.waitForLine(
            Stream::Out,
            [number](const std::string& text) {
                auto report = ParseCycleLine(text);
                return report && report->number == number;
            },
            timeout);
        return line ? ParseCycleLine(*line) : std::nullopt;
    }
    std::vector<CycleReport> cycles() const {
        std::vector<CycleReport> reports;
        for (const auto& line : process.lines(Stream::Out))
            if (auto report = ParseCycleLine(line)) reports.push_back(*report);
        return reports;
    }

    ChildProcess process;
};

}  // namespace e2e
