// Loading the request list from a real settings file through the POSIX
// settings store: 1,000, 10,000 and 32,767 request lines.
//
// CaricaParametri/N/edited:1 changes the file's modification time before
// every load, so each load reads and parses the file again (a reload after
// an edit); edited:0 loads an unchanged file, whose parsed text is reused.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "FakePlatform.h"
#include "app/Program.h"
#include "platform/posix/PosixTextFiles.h"
#include "settings/IniFileStore.h"

namespace {

using tarvel::IniFileStore;
using tarvel::Platform;
using tarvel::PosixTextFiles;
using tarvel::Program;

// The request lines of a plant: mostly reads, with a profile switch, a wait,
// a next-device mark and a remark now and then.
std::string requestLine(int n) {
    char line[64];
    switch (n % 50) {
        case 1:
            std::snprintf(line, sizeof line, "SERIAL_%d", n % 4);
            break;
        case 20:
            std::snprintf(line, sizeof line, "SLEEP 500");
            break;
        case 30:
            std::snprintf(line, sizeof line, "REM inverter %d disconnected", n);
            break;
        case 49:
            std::snprintf(line, sizeof line, "NEXT");
            break;
        default:
            std::snprintf(line, sizeof line, "%d,4,%d,1;Value%d", n % 247 + 1, n % 1000, n);
    }
    return line;
}

std::string settingsText(int lines) {
    std::string text =
        "; Plant settings\r\n[Start]\r\nAuto=0\r\nMin=0\r\n\r\n[General]\r\nTitle=Bench\r\n\r\n"
        "[Parameters]\r\nFirt=1\r\nLast=" +
        std::to_string(lines) + "\r\nInterval=60000\r\n";
    text.reserve(text.size() + static_cast<std::size_t>(lines) * 32);
    char key[16];
    for (int n = 1; n <= lines; ++n) {
        std::snprintf(key, sizeof key, "%03d=", n);
        text += key + requestLine(n) + "\r\n";
    }
    return text + "\r\n[Serial_0]\r\nCOM=1\r\nSettings=9600,N,8,1\r\n";
}

// A temporary folder holding Tarvel.INI, removed at the end.
class SettingsFolder {
  public:
    explicit SettingsFolder(int lines) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tarvel-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) return;
        folder_ = pattern;
        std::ofstream(file(), std::ios::binary) << settingsText(lines);
    }
    ~SettingsFolder() {
        if (folder_.empty()) return;
        ::unlink(file().c_str());
        ::rmdir(folder_.c_str());
    }
    const std::string& folder() const { return folder_; }
    std::string file() const { return folder_ + "/" + tarvel::IniFileName; }

    // Gives the file a modification time it never had, as an edit would.
    void touch() {
        ++edits_;
        const struct timespec when { static_cast<time_t>(1000000 + edits_), 0 };
        const struct timespec times[2] = {when, when};
        ::utimensat(AT_FDCWD, file().c_str(), times, 0);
    }

  private:
    std::string folder_;
    long edits_ = 0;
};

void BM_CaricaParametri(benchmark::State& state) {
    const int lines = static_cast<int>(state.range(0));
    const bool edited = state.range(1) != 0;
    SettingsFolder settings(lines);
    if (settings.folder().empty()) {
        state.SkipWithError("cannot create a temporary folder");
        return;
    }
    tarvel::fakes::FakePlatform fake;
    fake.identity.folder = settings.folder();
    PosixTextFiles files;
    IniFileStore store(files);
    Program program(Platform{store, fake.clock, fake.dialogs, fake.identity,
                                    fake.port, fake.files});
    // Every 50 lines one is a remark, which the list leaves out.
    const std::size_t expected = static_cast<std::size_t>(lines - (lines + 20) / 50);

    for (auto _ : state) {
        if (edited) {
            state.PauseTiming();
            settings.touch();
            state.ResumeTiming();
        }
        if (!program.CaricaParametri() || program.status().requests->size() != expected) {
            state.SkipWithError("the request list was not loaded");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * lines);
}

BENCHMARK(BM_CaricaParametri)
    ->ArgNames({"lines", "edited"})
    ->ArgsProduct({{1000, 10000, 32767}, {1, 0}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
