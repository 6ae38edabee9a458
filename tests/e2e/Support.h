#pragma once
// Helpers of the end-to-end tests: temporary folders, child processes whose
// output is collected line by line, the device simulator, settings files and
// the output documents the logger is expected to write.

#include "TempFolder.h"

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Millis = std::chrono::milliseconds;

using TempFolder = tarvel::test::TempFolder;

std::string ReadFile(const fs::path& path);
// Reads the file; nothing when it cannot be opened.
std::optional<std::string> TryReadFile(const fs::path& path);
void WriteFile(const fs::path& path, const std::string& content);
// Writes through a temporary file and a rename, so a reader sees the old
// content or the new one.
void ReplaceFile(const fs::path& path, const std::string& content);

struct SpawnOptions {
    std::string workingFolder;  // empty: the test's own
    bool ignoreFileSizeSignal = false;
};

// A child process with stdout and stderr collected as lines by a thread.
// The guard kills and reaps a child that is still running.
class ChildProcess {
  public:
    enum class Stream { Out, Err };

    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool start(const std::string& program, const std::vector<std::string>& arguments,
               const SpawnOptions& options = {});
    pid_t pid() const { return pid_; }
    bool running();
    bool signal(int number);
    // The exit code (128 + the signal when killed by one); nothing when the
    // child is still running after the timeout.
    std::optional<int> waitExit(Millis timeout);

    std::vector<std::string> lines(Stream stream) const;
    // The first line from index `from` on that satisfies the test, waiting
    // for it up to the timeout; its index goes to `index` when given.
    std::optional<std::string> waitForLine(Stream stream,
                                           const std::function<bool(const std::string&)>& test,
                                           Millis timeout, std::size_t from = 0,
                                           std::size_t* index = nullptr);

  private:
    void collect(int outFd, int errFd);
    void reap(int status);

    pid_t pid_ = -1;
    bool exited_ = false;
    int exitCode_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> out_;
    std::vector<std::string> err_;
    bool closed_ = false;
};

bool StartsWith(const std::string& text, const std::string& prefix);

// The device simulator on a pseudo-terminal, reachable at folder/ttySIM.
class Simulator {
  public:
    // Writes the map into the folder and starts the simulator on it.
    bool start(const TempFolder& folder, const std::string& map,
               const std::vector<std::string>& extraArguments = {});
    const std::string& link() const { return link_; }
    ChildProcess& process() { return process_; }

  private:
    ChildProcess process_;
    std::string link_;
};

// A settings file built section by section, keys in the order they are set.
class Settings {
  public:
    // Port COM1 on the link, profile 0 on COM1 with a short time-out.
    explicit Settings(const std::string& link);
    Settings& set(const std::string& section, const std::string& key, const std::string& value);
    // Firt, Last, Interval and the numbered lines of section Parameters.
    Settings& requestLines(const std::vector<std::string>& lines, int intervalMs = 1000);
    // A profile on COM1 with the same line settings as profile 0.
    Settings& profile(int number);
    std::string text() const;
    void writeTo(const TempFolder& folder) const;

  private:
    std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> sections_;
};

// The output document for the given devices, each a list of value elements.
std::string ExpectedXml(const std::vector<std::vector<std::string>>& devices,
                        const std::string& encoding = "UTF-8");
// A whole document: the declaration first, the closing root element last.
bool IsWholeDocument(const std::string& text);

// One line "Ciclo n: ..." of the runner.
struct CycleReport {
    long number = 0;
    int executed = 0;
    int failed = 0;
    long durationMs = 0;
    std::vector<std::string> files;
};
std::optional<CycleReport> ParseCycleLine(const std::string& line);
bool IsCycleLine(const std::string& line);

// The logger without windows.
class Runner {
  public:
    bool start(const TempFolder& programFolder, const std::vector<std::string>& extraArguments = {},
               const SpawnOptions& options = {});
    ChildProcess& process() { return process_; }
    // The report of cycle n (waiting for it).
    std::optional<CycleReport> waitForCycle(long number, Millis timeout);
    std::vector<CycleReport> cycles() const;

  private:
    ChildProcess process_;
};

// Polls the condition until it holds or the timeout passes.
bool Eventually(const std::function<bool()>& condition, Millis timeout);

// Resident memory in kB and the number of open descriptors of a process.
std::optional<long> ResidentKb(pid_t pid);
std::optional<long> OpenDescriptors(pid_t pid);

}  // namespace e2e
