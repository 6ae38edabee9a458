#pragma once
// What the read benchmarks share: clocks, reads measured in alternating
// blocks, their median and mean, libmodbus's master reading register 0 of
// node 1, which holds 1234 on the benchmarks' simulators, and a main with
// an application object, as the programs have.

#include <benchmark/benchmark.h>
#include <modbus.h>
#include <time.h>

#include <QCoreApplication>
#include <algorithm>
#include <cstdint>
#include <vector>

namespace tarvel::bench {

// What a read gives here when it failed.
constexpr double FailedValue = 99999;

inline double secondsOf(clockid_t id) {
    timespec t{};
    ::clock_gettime(id, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
inline double processCpuSeconds() { return secondsOf(CLOCK_PROCESS_CPUTIME_ID); }
inline double wallSeconds() { return secondsOf(CLOCK_MONOTONIC); }

// Reads go in blocks, one master after the other, so that each block runs
// with its own code warm in the caches; CPU time is taken per block.
constexpr int BlockReads = 20;

struct Samples {
    std::vector<double> latency, cpu;  // per read; per read of a block
    int wrong = 0;
    template <class Read>
    void measureBlock(Read read) {
        const double cpu0 = processCpuSeconds();
        for (int i = 0; i < BlockReads; ++i) {
            const double wall = wallSeconds();
            wrong += read() != 1234;
            latency.push_back((wallSeconds() - wall) * 1e6);
        }
        cpu.push_back((processCpuSeconds() - cpu0) * 1e6 / BlockReads);
    }
};

inline double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

inline double mean(const std::vector<double>& values) {
    double sum = 0;
    for (double v : values) sum += v;
    return values.empty() ? 0 : sum / static_cast<double>(values.size());
}

// libmodbus's master on a context made for it (RTU or TCP), connected.
class LibmodbusReader {
  public:
    explicit LibmodbusReader(modbus_t* context) : ctx_(context) {
        ok_ = ctx_ && modbus_set_slave(ctx_, 1) == 0 && modbus_connect(ctx_) == 0;
        if (ok_) modbus_set_response_timeout(ctx_, 0, 500000);
    }
    ~LibmodbusReader() {
        if (!ctx_) return;
        modbus_close(ctx_);
        modbus_free(ctx_);
    }
    LibmodbusReader(const LibmodbusReader&) = delete;
    LibmodbusReader& operator=(const LibmodbusReader&) = delete;
    bool ok() const { return ok_; }
    double read() {
        std::uint16_t value = 0;
        return modbus_read_registers(ctx_, 0, 1, &value) == 1 ? value : FailedValue;
    }

  private:
    modbus_t* ctx_ = nullptr;
    bool ok_ = false;
};

}  // namespace tarvel::bench

#define TARVEL_QT_BENCHMARK_MAIN()                                          \
    int main(int argc, char** argv) {                                       \
        QCoreApplication app(argc, argv);                                   \
        benchmark::Initialize(&argc, argv);                                 \
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;   \
        benchmark::RunSpecifiedBenchmarks();                                \
        benchmark::Shutdown();                                              \
        return 0;                                                           \
    }
