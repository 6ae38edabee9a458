#include "Runner.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>

#include "acquisition/CyclePrediction.h"
#include "app/Startup.h"
#include "modbus/SerialProfile.h"
#include "platform/posix/SignalPipe.h"

namespace tarvel {

bool Runner::installSignals() {
    // A reader of standard output that goes away must not end the logging:
    // the failed write stops the printing instead.
    std::signal(SIGPIPE, SIG_IGN);
    return SignalPipe::Install({SIGTERM, SIGINT, SIGHUP});
}

void Runner::print(const std::string& line) {
    if (!outputClosed_ &&
        (std::fputs(line.c_str(), stdout) == EOF || std::fputc('\n', stdout) == EOF))
        outputClosed_ = true;
}

void Runner::flush() {
    if (!outputClosed_ && std::fflush(stdout) == EOF) outputClosed_ = true;
}

Runner::Runner(Program& program, RunnerOptions options)
    : program_(program), options_(std::move(options)) {
    if (SignalPipe::fd() >= 0) {
        notifier_ = std::make_unique<QSocketNotifier>(SignalPipe::fd(), QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { onSignal(); });
    }
    program_.setView(this);
    if (options_.monitor) {
        program_.mbus().ImpostaMonitorAttivo(true);
        program_.mbus().onMonitorChanged([this] { printMonitor(); });
    }
}

Runner::~Runner() { program_.setView(nullptr); }

int Runner::start() {
    // A refused section would leave a service without what it was set up
    // for: the settings are unusable until the section is mended.
    switch (PrepareAcquisition(program_, true)) {
        case StartupResult::BadSettings:
            return 2;
        case StartupResult::PortNotSet:
            return 3;
        case StartupResult::Ready:
            break;
    }
    program_.setAvvioInCorso(false);
    warnOfGroups();
    program_.MenuAvvio_Click();
    return 0;
}

// An EVERY line whose period cannot be used is told as --check tells it:
// its lines are read every cycle meanwhile.
void Runner::warnOfGroups() {
    const std::vector<RequestLine>& lines = program_.lines();
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].kind == LineKind::Every)
            for (const std::string& p : lines[i].problems)
                std::fprintf(stderr, "Avviso: riga %zu: %s\n", i, p.c_str());
}

bool Runner::onSignal() {
    while (const std::optional<int> number = SignalPipe::Next()) {
        if (*number == SIGHUP)
            reloadRequested_ = true;
        else
            stopped_ = true;
    }
    if (stopped_) {
        // A wait for an answer or a wait line ends at once.
        program_.StopNow();
        // Between cycles there is nothing to finish; during one, the cycle
        // ends at its next stop test and the end comes with its report.
        if (!program_.status().cycleRunning) fine(0);
        return true;
    }
    if (reloadRequested_ && !program_.status().cycleRunning) {
        reloadRequested_ = false;
        // A failed reload keeps the list it had, as answering No to the
        // exit question does.
        if (program_.MenuRicarica_Click()) {
            std::fprintf(stderr, "Impostazioni ricaricate\n");
            warnOfGroups();
        }
    }
    return false;
}

void Runner::cycleFinished(const CycleReport& r) {
    std::string files;
    for (const auto& f : r.filesWritten) files += (files.empty() ? "" : ", ") + f;
    print("Ciclo " + std::to_string(r.number) + ": righe eseguite " +
           std::to_string(r.linesRun) + ", letture fallite " +
           std::to_string(r.failedReads) + ", senza valore " + std::to_string(r.noValue) +
           ", durata " + std::to_string(r.duration.count()) +
           " ms, file scritti: " + (files.empty() ? "-" : files));
    if (options_.stats) {
        printHealth();
        printPorts(r.ports);
    }
    flush();
    for (const auto& e : r.outputErrors)
        std::fprintf(stderr, "Errore di scrittura: %s\n", e.c_str());
    if (options_.cycles > 0 && r.number >= options_.cycles) {
        program_.MenuFerma_Click();
        stopped_ = true;
    }
    if (stopped_) {
        fine(0);
        return;
    }
    if (!program_.status().acquisizioneAttiva) {
        // A serial profile of the list could not be applied: acquisition
        // stopped by itself. Without a window nobody could start it again.
        std::fprintf(stderr, "Acquisizione fermata: profilo seriale non applicabile\n");
        fine(3);
        return;
    }
    if (reloadRequested_) {
        reloadRequested_ = false;
        if (program_.MenuRicarica_Click()) {
            std::fprintf(stderr, "Impostazioni ricaricate\n");
            warnOfGroups();
        }
    }
}

void Runner::printMonitor() {
    const MonitorLog& log = program_.mbus().monitor();
    if (log.requests().size() < tx_ || log.answers().size() < rx_) tx_ = rx_ = 0;
    for (; tx_ < log.requests().size(); ++tx_) print("TX " + log.requests()[tx_]);
    for (; rx_ < log.answers().size(); ++rx_) print("RX " + log.answers()[rx_]);
    flush();
}

namespace {

// The wall-clock time of a monotonic instant, local, to the second.
std::string localTime(TimePoint startedAt) {
    using namespace std::chrono;
    const auto age = duration_cast<system_clock::duration>(steady_clock::now() - startedAt);
    const std::time_t t = system_clock::to_time_t(system_clock::now() - age);
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
    return text;
}

}  // namespace

void Runner::printHealth() {
    for (const auto& [node, health] : program_.mbus().health().nodes()) {
        std::string line = "stats";
        for (const auto& field : HealthFields(node, health)) line += '\t' + field;
        line += '\t' + (health.lastGood ? localTime(*health.lastGood) : std::string("-"));
        print(line);
    }
}

// Each port's part of the cycle: its milliseconds, and the share of them
// in which the line carried bytes at its bits per character ("-" for a
// gateway, which has no baud rate).
void Runner::printPorts(const std::vector<PortActivity>& ports) {
    for (const PortActivity& p : ports) {
        std::string busy = "-";
        if (!p.network && p.baud > 0) {
            const double lineMs = static_cast<double>(p.bytes) * p.bitsPerByte * 1000.0 / p.baud;
            const double ms = static_cast<double>(p.time.count()) / 1000.0;
            busy = FormatTenths(ms > 0 ? 100.0 * lineMs / ms : 0.0);
        }
        const auto ms = std::chrono::duration_cast<Millis>(p.time).count();
        print("port\tCOM" + p.com + "\t" + std::to_string(ms) + "\t" + busy);
    }
}

void Runner::fine(int code) {
    program_.ClosePort();
    exitCode_ = code;
    QCoreApplication::exit(code);
}

}  // namespace tarvel
