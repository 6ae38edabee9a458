#include "Runner.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>

#include "app/Startup.h"
#include "modbus/SerialProfile.h"
#include "platform/posix/SignalPipe.h"

namespace tarvel {

bool Runner::installaSegnali() {
    // A reader of standard output that goes away must not end the logging:
    // the failed write stops the printing instead.
    std::signal(SIGPIPE, SIG_IGN);
    return SignalPipe::Install({SIGTERM, SIGINT, SIGHUP});
}

void Runner::stampa(const std::string& riga) {
    if (!uscitaChiusa_ &&
        (std::fputs(riga.c_str(), stdout) == EOF || std::fputc('\n', stdout) == EOF))
        uscitaChiusa_ = true;
}

void Runner::svuota() {
    if (!uscitaChiusa_ && std::fflush(stdout) == EOF) uscitaChiusa_ = true;
}

Runner::Runner(Program& programma, RunnerOptions opzioni)
    : prog_(programma), opzioni_(std::move(opzioni)) {
    if (SignalPipe::fd() >= 0) {
        notifier_ = std::make_unique<QSocketNotifier>(SignalPipe::fd(), QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { segnale(); });
    }
    prog_.setView(this);
    if (opzioni_.monitor) {
        prog_.mbus().ImpostaMonitorAttivo(true);
        prog_.mbus().onMonitorChanged([this] { stampaMonitor(); });
    }
}

Runner::~Runner() { prog_.setView(nullptr); }

int Runner::avvia() {
    // A refused section would leave a service without what it was set up
    // for: the settings are unusable until the section is mended.
    switch (PreparaAcquisizione(prog_, true)) {
        case StartupResult::BadSettings:
            return 2;
        case StartupResult::PortNotSet:
            return 3;
        case StartupResult::Ready:
            break;
    }
    prog_.setAvvioInCorso(false);
    prog_.MenuAvvio_Click();
    return 0;
}

bool Runner::segnale() {
    while (const std::optional<int> number = SignalPipe::Next()) {
        if (*number == SIGHUP)
            ricaricaRichiesta_ = true;
        else
            fermata_ = true;
    }
    if (fermata_) {
        // A wait for an answer or a wait line ends at once.
        prog_.FermaSubito();
        // Between cycles there is nothing to finish; during one, the cycle
        // ends at its next stop test and the end comes with its report.
        if (!prog_.stato().cicloInCorso) fine(0);
        return true;
    }
    if (ricaricaRichiesta_ && !prog_.stato().cicloInCorso) {
        ricaricaRichiesta_ = false;
        // A failed reload keeps the list it had, as answering No to the
        // exit question does.
        if (prog_.MenuRicarica_Click()) std::fprintf(stderr, "Impostazioni ricaricate\n");
    }
    return false;
}

void Runner::cicloTerminato(const CycleReport& r) {
    std::string files;
    for (const auto& f : r.fileScritti) files += (files.empty() ? "" : ", ") + f;
    stampa("Ciclo " + std::to_string(r.numero) + ": righe eseguite " +
           std::to_string(r.righeEseguite) + ", letture fallite " +
           std::to_string(r.lettureFallite) + ", senza valore " + std::to_string(r.senzaValore) +
           ", durata " + std::to_string(r.durata.count()) +
           " ms, file scritti: " + (files.empty() ? "-" : files));
    if (opzioni_.stats) stampaSalute();
    svuota();
    for (const auto& e : r.erroriUscita)
        std::fprintf(stderr, "Errore di scrittura: %s\n", e.c_str());
    if (opzioni_.cicli > 0 && r.numero >= opzioni_.cicli) {
        prog_.MenuFerma_Click();
        fermata_ = true;
    }
    if (fermata_) {
        fine(0);
        return;
    }
    if (!prog_.stato().acquisizioneAttiva) {
        // A serial profile of the list could not be applied: acquisition
        // stopped by itself. Without a window nobody could start it again.
        std::fprintf(stderr, "Acquisizione fermata: profilo seriale non applicabile\n");
        fine(3);
        return;
    }
    if (ricaricaRichiesta_) {
        ricaricaRichiesta_ = false;
        if (prog_.MenuRicarica_Click()) std::fprintf(stderr, "Impostazioni ricaricate\n");
    }
}

void Runner::stampaMonitor() {
    const MonitorLog& log = prog_.mbus().monitor();
    if (log.richieste().size() < tx_ || log.risposte().size() < rx_) tx_ = rx_ = 0;
    for (; tx_ < log.richieste().size(); ++tx_) stampa("TX " + log.richieste()[tx_]);
    for (; rx_ < log.risposte().size(); ++rx_) stampa("RX " + log.risposte()[rx_]);
    svuota();
}

namespace {

// The wall-clock time of a monotonic instant, local, to the second.
std::string oraLocale(TimePoint istante) {
    using namespace std::chrono;
    const auto eta = duration_cast<system_clock::duration>(steady_clock::now() - istante);
    const std::time_t t = system_clock::to_time_t(system_clock::now() - eta);
    std::tm tm{};
    localtime_r(&t, &tm);
    char testo[32];
    std::strftime(testo, sizeof testo, "%Y-%m-%dT%H:%M:%S", &tm);
    return testo;
}

}  // namespace

void Runner::stampaSalute() {
    for (const auto& [nodo, salute] : prog_.mbus().salute().nodi()) {
        std::string riga = "stats";
        for (const auto& campo : CampiSalute(nodo, salute)) riga += '\t' + campo;
        riga += '\t' + (salute.ultimaBuona ? oraLocale(*salute.ultimaBuona) : std::string("-"));
        stampa(riga);
    }
}

void Runner::fine(int codice) {
    prog_.ChiudiPorta();
    codice_ = codice;
    QCoreApplication::exit(codice);
}

}  // namespace tarvel
