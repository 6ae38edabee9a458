#pragma once
// Child processes and pseudo-terminals of the tests and benchmarks. A
// child's output is read line by line from pipes while the test waits, so no
// reader thread is needed; a child still running at the end is asked to end,
// then killed, and it dies with the test process. tarvel-sim runs in a
// temporary folder of its own, with its map, the link to its pseudo-terminal
// and its control pipe.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "TempFolder.h"

namespace tarvel::test {

using namespace std::chrono_literals;

// Polls the condition until it holds or the time is up.
inline bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// A program in the folder of the running executable, where the build puts
// every program.
inline std::string ProgramBeside(const std::string& name) {
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / name).string();
}

class ChildProcess {
  public:
    enum Stream { Out, Err };

    ChildProcess() = default;
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Runs the program in the working folder (empty: the test's own). A
    // child started before is ended first, and its exit and output are
    // forgotten.
    bool start(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& workingFolder = {}) {
        stop();
        code_.reset();
        int pipes[2][2];
        for (int i : {Out, Err}) {
            Output& s = streams_[i];
            if (s.fd >= 0) ::close(s.fd);
            s.partial.clear();
            s.lines.clear();
            if (::pipe2(pipes[i], O_CLOEXEC) != 0) return false;
            // Read without blocking; room for a long output between reads.
            streams_[i].fd = pipes[i][0];
            ::fcntl(pipes[i][0], F_SETFL, O_NONBLOCK);
            ::fcntl(pipes[i][0], F_SETPIPE_SZ, 1 << 20);
        }
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ != 0) {
            for (auto& p : pipes) ::close(p[1]);
            return pid_ > 0;
        }
        // Only async-signal-safe calls from here to exec.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        // As a program started by a shell finds it, whatever the test ignores.
        ::signal(SIGXFSZ, SIG_DFL);
        if (!workingFolder.empty() && ::chdir(workingFolder.c_str()) != 0) ::_exit(126);
        ::dup2(::open("/dev/null", O_RDONLY | O_CLOEXEC), STDIN_FILENO);
        ::dup2(pipes[Out][1], STDOUT_FILENO);
        ::dup2(pipes[Err][1], STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }

    pid_t pid() const { return pid_; }
    // Also takes in what the child wrote, so that its pipes never fill up.
    bool running() {
        pull(Out);
        pull(Err);
        int status = 0;
        if (pid_ > 0 && !code_ && ::waitpid(pid_, &status, WNOHANG) == pid_)
            code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return pid_ > 0 && !code_;
    }
    bool signal(int number) { return running() && ::kill(pid_, number) == 0; }
    // The exit code (128 + the signal when killed by one); nothing when the
    // child still runs at the end of the time.
    std::optional<int> waitExit(std::chrono::milliseconds timeout) {
        Eventually([this] { return !running(); }, timeout);
        return code_;
    }
    // Asks the child to end; kills it when it does not within a second.
    void stop() {
        if (signal(SIGTERM) && !waitExit(1s)) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    // The lines written so far.
    std::vector<std::string> lines(Stream stream) const { return pull(stream).lines; }
    // The first line from index `from` on that passes `test`, waiting for it
    // while the child runs; its index in `*index` when given.
    // The wait sleeps until the child writes (a benchmark measures the child
    // meanwhile: a waiter that woke every few milliseconds would take the
    // child's processor from it).
    std::optional<std::string> waitForLine(Stream stream,
                                           const std::function<bool(const std::string&)>& test,
                                           std::chrono::milliseconds timeout, std::size_t from = 0,
                                           std::size_t* index = nullptr) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const bool alive = running();
            const auto& all = pull(stream).lines;
            for (; from < all.size(); ++from) {
                if (!test(all[from])) continue;
                if (index != nullptr) *index = from;
                return all[from];
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (!alive || left.count() <= 0) return std::nullopt;
            // At most 100 ms, to see the child's end; a closed pipe reads
            // as ready at once, so the wait is a short sleep then.
            pollfd ready{streams_[stream].fd, POLLIN, 0};
            if (::poll(&ready, 1, static_cast<int>(std::min<long>(left.count(), 100))) > 0 &&
                (ready.revents & POLLIN) == 0)
                std::this_thread::sleep_for(2ms);
        }
    }

  private:
    struct Output {
        int fd = -1;
        std::string partial;
        std::vector<std::string> lines;
        ~Output() {
            if (fd >= 0) ::close(fd);
        }
    };
    // Reads what the child wrote since the last call.
    Output& pull(Stream stream) const {
        Output& s = streams_[stream];
        char buffer[4096];
        for (ssize_t n; (n = ::read(s.fd, buffer, sizeof buffer)) > 0;)
            s.partial.append(buffer, static_cast<std::size_t>(n));
        for (auto end = s.partial.find('\n'); end != std::string::npos;
             end = s.partial.find('\n')) {
            s.lines.push_back(s.partial.substr(0, end));
            s.partial.erase(0, end + 1);
        }
        return s;
    }

    pid_t pid_ = -1;
    std::optional<int> code_;
    mutable Output streams_[2];
};

// The master side of a pseudo-terminal; the slave path is the port's device.
class PtyPair {
  public:
    PtyPair() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0)
            slave_ = ::ptsname(master_);
    }
    ~PtyPair() { closeMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0 && !slave_.empty(); }
    const std::string& slavePath() const { return slave_; }
    int master() const { return master_; }
    void closeMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

  private:
    int master_ = -1;
    std::string slave_;
};

// The device simulator on a map; ended with the object.
class SimProcess {
  public:
    bool start(const std::string& map, std::vector<std::string> extra = {}) {
        const std::string mapPath = folder_ / "plant.map";
        WriteFile(mapPath, map);
        std::vector<std::string> arguments{"--map", mapPath,     "--link",
                                           link(),  "--control", controlPath()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        if (!process_.start(ProgramBeside("tarvel-sim"), arguments)) return false;
        auto first = process_.waitForLine(
            ChildProcess::Out, [](const std::string&) { return true; }, 5s);
        device_ = first.value_or("");
        return first && std::filesystem::exists(link());
    }
    // "unplug", "plug" or "reload".
    bool control(const std::string& command) const {
        const int fd = ::open(controlPath().c_str(), O_WRONLY | O_NONBLOCK);
        const std::string line = command + "\n";
        const bool ok = fd >= 0 && ::write(fd, line.data(), line.size()) == ssize_t(line.size());
        if (fd >= 0) ::close(fd);
        return ok;
    }
    std::string link() const { return folder_ / "ttySIM"; }
    std::string controlPath() const { return folder_ / "control"; }
    // "127.0.0.1:PORT" of a network port served ("tcp" or "rtu-tcp"); empty
    // when the simulator did not print it.
    std::string address(const std::string& kind) {
        const auto line = process_.waitForLine(
            ChildProcess::Out, [&](const std::string& l) { return l.starts_with(kind + " "); }, 5s);
        return line ? line->substr(kind.size() + 1) : std::string();
    }
    // The pseudo-terminal itself.
    const std::string& device() const { return device_; }
    ChildProcess& process() { return process_; }

  private:
    TempFolder folder_{"tarvel-sim"};
    ChildProcess process_;
    std::string device_;
};

}  // namespace tarvel::test
