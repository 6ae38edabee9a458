#pragma once
// The Modbus-RTU master on the serial line: port configuration, one
// request/answer exchange, and the 16-bit and 32-bit value reads with their
// retries and scaling.

#include <cstdint>
#include <functional>
#include <string>

#include "modbus/MonitorLog.h"
#include "platform/Clock.h"
#include "platform/SerialPort.h"

namespace tarvel {

// What became of one exchange on the line.
enum class EsitoTransazione {
    Completa,        // the expected answer, checked
    TimeOut,         // nothing (or one stray byte) before the time-out
    Broadcast,       // the same for node 0, which never answers
    Eccezione,       // an exception answer, or a partial one
    ErroreCRC,       // a complete-length answer whose CRC is wrong
    RispostaErrata,  // right CRC, but node, function or byte count differ
};

// The status text the monitor appends to the answer line.
const char* TestoEsito(EsitoTransazione esito);

// The value a read gives when every attempt failed.
inline constexpr double ValoreFallito = 99999;

class MBus {
  public:
    MBus(SerialPort& port, Clock& clock);

    // Port configuration: each returns false when the port refuses a value.
    bool ConfiguraPorta(const std::string& com, const std::string& settings, int handshaking,
                        bool nullDiscard, bool dtr, bool rts);
    bool ApriPorta(bool apri);
    bool ImpostaTimeOut(std::int32_t millisecondi);
    std::int32_t LeggiTimeOut() const;
    bool ImpostaRetry(std::int32_t tentativi);
    std::int32_t LeggiRetry() const { return Retry; }
    std::string LeggiCommPort() const;
    std::string LeggiSettings() const;

    // One exchange: true when the expected answer arrived in time and passed
    // its checks. The last esito() tells what happened.
    bool EseguiTransazione(std::int16_t nodo, int lunghezzaAttesa, const Bytes& trama);
    EsitoTransazione esito() const { return esito_; }

    // The data of one item as hexadecimal text, or "99999".
    std::string LeggiHex(std::int16_t funzione, std::int32_t alto, std::int32_t basso,
                         std::int16_t nodo);
    // Scaled values, or ValoreFallito after Retry failed attempts.
    double LeggiValore16(std::int16_t funzione, std::int16_t registro, std::int16_t nodo,
                         std::int16_t decimali, bool senzaSegno);
    double LeggiValore32(std::int16_t funzione, std::int16_t registro, std::int16_t nodo,
                         std::int16_t decimali, bool bassoSuccessivo, bool senzaSegno);

    static std::string TestoHex(const Bytes& bytes);
    static std::string TestoDec(const Bytes& bytes);
    void ImpostaNotazione(std::int16_t indice);

    MonitorLog& monitor() { return monitor_; }
    const MonitorLog& monitor() const { return monitor_; }
    // Called after every change of the monitor's lists.
    void onMonitorChanged(std::function<void()> handler) { monitorChanged_ = std::move(handler); }

    // Module state, as the rest of the program reads and sets it.
    std::int32_t Retry = 1;
    std::int32_t TimeOutMs = 800;
    bool MonitorAttivo = false;
    bool NotazioneHex = true;
    bool NotazioneDec = false;
    Bytes BufferRisposta;

    // Counters that only grow, for reports.
    struct Contatori {
        std::uint64_t transazioni = 0;
        std::uint64_t fallite = 0;
        std::uint64_t riaperture = 0;
    };
    const Contatori& contatori() const { return contatori_; }

  private:
    std::string notazione(const Bytes& bytes) const;
    void registraRichiesta(const Bytes& trama);
    void registraRisposta(const Bytes& bytes, EsitoTransazione esito);
    void riapriSePerso();
    Bytes attendiRisposta(const Bytes& trama, int lunghezzaAttesa, bool& completa);

    SerialPort& port_;
    Clock& clock_;
    MonitorLog monitor_;
    std::function<void()> monitorChanged_;
    EsitoTransazione esito_ = EsitoTransazione::Completa;
    Contatori contatori_;
    // A device that went away while open: reopened at most once a second.
    bool portaPersa_ = false;
    TimePoint ultimoTentativo_{};
};

}  // namespace tarvel
