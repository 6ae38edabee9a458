#include "Support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

namespace e2e {

std::optional<std::string> TryReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string ReadFile(const fs::path& path) { return TryReadFile(path).value_or(""); }

void WriteFile(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

void ReplaceFile(const fs::path& path, const std::string& content) {
    fs::path temporary = path;
    temporary += ".new";
    WriteFile(temporary, content);
    fs::rename(temporary, path);
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// ---------------------------------------------------------------- processes

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !exited_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        if (::waitpid(pid_, &status, 0) == pid_) reap(status);
    }
    if (reader_.joinable()) reader_.join();
}

bool ChildProcess::start(const std::string& program, const std::vector<std::string>& arguments,
                         const SpawnOptions& options) {
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return false;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return false;
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const char* folder = options.workingFolder.empty() ? nullptr : options.workingFolder.c_str();

    pid_ = ::fork();
    if (pid_ == 0) {
        // Only async-signal-safe calls from here to exec.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (options.ignoreFileSizeSignal) ::signal(SIGXFSZ, SIG_IGN);
        if (folder != nullptr && ::chdir(folder) != 0) ::_exit(126);
        const int input = ::open("/dev/null", O_RDONLY);
        if (input >= 0) ::dup2(input, STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    if (pid_ < 0) {
        ::close(out[0]);
        ::close(err[0]);
        return false;
    }
    reader_ = std::thread([this, outFd = out[0], errFd = err[0]] { collect(outFd, errFd); });
    return true;
}

void ChildProcess::collect(int outFd, int errFd) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string partial[2];
    int open = 2;
    char buffer[4096];
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            std::lock_guard lock(mutex_);
            auto& lines = i == 0 ? out_ : err_;
            if (n <= 0) {
                if (!partial[i].empty()) lines.push_back(partial[i]);
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                partial[i].append(buffer, static_cast<std::size_t>(n));
                for (auto end = partial[i].find('\n'); end != std::string::npos;
                     end = partial[i].find('\n')) {
                    lines.push_back(partial[i].substr(0, end));
                    partial[i].erase(0, end + 1);
                }
            }
            changed_.notify_all();
        }
    }
    for (auto& fd : fds)
        if (fd.fd >= 0) ::close(fd.fd);
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
}

void ChildProcess::reap(int status) {
    exited_ = true;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool ChildProcess::running() {
    if (pid_ <= 0 || exited_) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) reap(status);
    return !exited_;
}

bool ChildProcess::signal(int number) { return running() && ::kill(pid_, number) == 0; }

std::optional<int> ChildProcess::waitExit(Millis timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (running()) {
        if (std::chrono::steady_clock::now() >= end) return std::nullopt;
        std::this_thread::sleep_for(5ms);
    }
    if (pid_ <= 0) return std::nullopt;
    // The output is complete only once both pipes reached their end, which
    // can be a moment after the exit.
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, end, [this] { return closed_; });
    return exitCode_;
}

std::vector<std::string> ChildProcess::lines(Stream stream) const {
    std::lock_guard lock(mutex_);
    return stream == Stream::Out ? out_ : err_;
}

std::optional<std::string> ChildProcess::waitForLine(
    Stream stream, const std::function<bool(const std::string&)>& test, Millis timeout,
    std::size_t from, std::size_t* index) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(mutex_);
    const auto& lines = stream == Stream::Out ? out_ : err_;
    for (std::size_t i = from;;) {
        for (; i < lines.size(); ++i) {
            if (test(lines[i])) {
                if (index != nullptr) *index = i;
                return lines[i];
            }
        }
        if (closed_) return std::nullopt;
        if (changed_.wait_until(lock, end) == std::cv_status::timeout && i == lines.size())
            return std::nullopt;
    }
}

// ---------------------------------------------------------------- simulator

bool Simulator::start(const TempFolder& folder, const std::string& map,
                      const std::vector<std::string>& extraArguments) {
    const std::string mapPath = folder / "plant.map";
    WriteFile(mapPath, map);
    link_ = folder / "ttySIM";
    std::vector<std::string> arguments{"--map", mapPath, "--link", link_};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    if (!process_.start(TARVEL_SIM_PATH, arguments)) return false;
    auto pty = process_.waitForLine(
        ChildProcess::Stream::Out, [](const std::string&) { return true; }, 5s);
    return pty.has_value() && fs::exists(link_);
}

// ---------------------------------------------------------------- settings

Settings::Settings(const std::string& link) {
    set("Ports", "COM1", link);
    set("Serial_0", "COM", "1");
    set("Serial_0", "Settings", "9600,N,8,1");
    set("Serial_0", "TimeOut", "300");
    set("Serial_0", "Retry", "1");
}

Settings& Settings::set(const std::string& section, const std::string& key,
                        const std::string& value) {
    auto found = std::find_if(sections_.begin(), sections_.end(),
                              [&](const auto& entry) { return entry.first == section; });
    if (found == sections_.end()) found = sections_.insert(sections_.end(), {section, {}});
    for (auto& entry : found->second) {
        if (entry.first == key) {
            entry.second = value;
            return *this;
        }
    }
    found->second.emplace_back(key, value);
    return *this;
}

Settings& Settings::requestLines(const std::vector<std::string>& lines, int intervalMs) {
    set("Parameters", "Firt", "1");
    set("Parameters", "Last", std::to_string(lines.size()));
    set("Parameters", "Interval", std::to_string(intervalMs));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string key = std::to_string(i + 1);
        if (key.size() < 3) key.insert(0, 3 - key.size(), '0');
        set("Parameters", key, lines[i]);
    }
    return *this;
}

Settings& Settings::profile(int number) {
    const std::string section = "Serial_" + std::to_string(number);
    set(section, "COM", "1");
    set(section, "Settings", "9600,N,8,1");
    set(section, "TimeOut", "300");
    return set(section, "Retry", "1");
}

std::string Settings::text() const {
    std::string text;
    for (const auto& [section, keys] : sections_) {
        text += "[" + section + "]\n";
        for (const auto& [key, value] : keys) text += key + "=" + value + "\n";
        text += "\n";
    }
    return text;
}

void Settings::writeTo(const TempFolder& folder) const {
    ReplaceFile(folder.path() / "Tarvel.INI", text());
}

// ---------------------------------------------------------------- output

std::string ExpectedXml(const std::vector<std::vector<std::string>>& devices,
                        const std::string& encoding) {
    std::string text = "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>\r\n";
    text += "  <Dispositivi>\r\n\r\n";
    for (const auto& device : devices) {
        text += "    <Dispositivo>\r\n";
        for (const auto& element : device) text += "      " + element + "\r\n";
        text += "    </Dispositivo>\r\n\r\n";
    }
    return text + "  </Dispositivi>\r\n";
}

bool IsWholeDocument(const std::string& text) {
    const std::string head = "<?xml version=\"1.0\" encoding=\"";
    const std::string tail = "  </Dispositivi>\r\n";
    return StartsWith(text, head) && text.size() >= head.size() + tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::optional<CycleReport> ParseCycleLine(const std::string& line) {
    static const std::regex pattern(
        R"(^Ciclo (\d+): righe eseguite (\d+), letture fallite (\d+), durata (\d+) ms, )"
        R"(file scritti: (.*)$)");
    std::smatch match;
    if (!std::regex_match(line, match, pattern)) return std::nullopt;
    CycleReport report;
    report.number = std::stol(match[1]);
    report.executed = std::stoi(match[2]);
    report.failed = std::stoi(match[3]);
    report.durationMs = std::stol(match[4]);
    const std::string files = match[5];
    if (files != "-") {
        std::size_t start = 0;
        for (auto comma = files.find(", "); comma != std::string::npos;
             comma = files.find(", ", start)) {
            report.files.push_back(files.substr(start, comma - start));
            start = comma + 2;
        }
        report.files.push_back(files.substr(start));
    }
    return report;
}

bool IsCycleLine(const std::string& line) { return StartsWith(line, "Ciclo "); }

bool Runner::start(const TempFolder& programFolder, const std::vector<std::string>& extraArguments,
                   const SpawnOptions& options) {
    std::vector<std::string> arguments{"--folder", programFolder.path().string()};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    return process_.start(TARVEL_HEADLESS_PATH, arguments, options);
}

std::optional<CycleReport> Runner::waitForCycle(long number, Millis timeout) {
    auto line = process_.waitForLine(
        ChildProcess::Stream::Out,
        [number](const std::string& text) {
            auto report = ParseCycleLine(text);
            return report && report->number == number;
        },
        timeout);
    if (!line) return std::nullopt;
    return ParseCycleLine(*line);
}

std::vector<CycleReport> Runner::cycles() const {
    std::vector<CycleReport> reports;
    for (const auto& line : process_.lines(ChildProcess::Stream::Out))
        if (auto report = ParseCycleLine(line)) reports.push_back(*report);
    return reports;
}

bool Eventually(const std::function<bool()>& condition, Millis timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// ---------------------------------------------------------------- /proc

std::optional<long> ResidentKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (StartsWith(line, "VmRSS:")) return std::stol(line.substr(6));
    }
    return std::nullopt;
}

std::optional<long> OpenDescriptors(pid_t pid) {
    std::error_code error;
    fs::directory_iterator entries("/proc/" + std::to_string(pid) + "/fd", error);
    if (error) return std::nullopt;
    long count = 0;
    for (const auto& entry : entries) {
        (void)entry;
        ++count;
    }
    return count;
}

}  // namespace e2e
