#pragma once
// The device simulator as a child process of a test: a map file, a link to
// its pseudo-terminal and a control pipe in a temporary folder. It is ended
// with the object, and also if the test process dies.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Support.h"

namespace tarvel::integration {

class SimProcess {
  public:
    SimProcess() : folder_(temporaryFolder()) {}
    ~SimProcess() {
        stop();
        if (!folder_.empty()) std::filesystem::remove_all(folder_);
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts the simulator on a map and waits for its first line.
    bool start(const std::string& program, const std::string& map,
               std::vector<std::string> extra = {}) {
        if (folder_.empty() || program.empty()) return false;
        std::ofstream(folder_ + "/plant.map") << map;
        std::vector<std::string> args{program,    "--map",     folder_ + "/plant.map", "--link",
                                      linkPath(), "--control", controlPath()};
        args.insert(args.end(), extra.begin(), extra.end());
        pid_ = spawn(args);
        return pid_ > 0 && waitForFirstLine();
    }

    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 200; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    // "unplug", "plug" or "reload".
    bool control(const std::string& command) const {
        int fd = ::open(controlPath().c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0) return false;
        std::string line = command + "\n";
        bool ok = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
        ::close(fd);
        return ok;
    }

    std::string linkPath() const { return folder_ + "/ttySim"; }
    std::string controlPath() const { return folder_ + "/control"; }
    const std::string& devicePath() const { return device_; }
    std::string messages() const { return fileText(folder_ + "/sim.err"); }

  private:
    pid_t spawn(const std::vector<std::string>& args) const {
        std::string out = folder_ + "/sim.out", err = folder_ + "/sim.err";
        pid_t pid = ::fork();
        if (pid != 0) return pid;
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(o, STDOUT_FILENO);
        ::dup2(e, STDERR_FILENO);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }

    bool waitForFirstLine() {
        for (int i = 0; i < 1000; ++i) {
            std::string text = fileText(folder_ + "/sim.out");
            auto end = text.find('\n');
            if (end != std::string::npos && std::filesystem::exists(controlPath())) {
                device_ = text.substr(0, end);
                return true;
            }
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    static std::string fileText(const std::string& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string folder_;
    pid_t pid_ = -1;
    std::string device_;
};

}  // namespace tarvel::integration
