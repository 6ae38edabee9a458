#pragma once
// Publishing to an MQTT broker, with nothing lost: after every cycle each
// device's values become one message, which goes to the journal on disk
// first and leaves it only when the broker has it. A thread of its own hands
// the journal to the broker, in order, whenever there is a connection; a
// cycle never waits for the network.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/Chiamata.h"
#include "acquisition/ValoriCiclo.h"
#include "modbus/Salute.h"
#include "platform/Clock.h"
#include "platform/Journal.h"
#include "platform/MqttClient.h"
#include "platform/WallClock.h"
#include "publish/ImpostazioniMqtt.h"

namespace tarvel {

// The messages of one cycle: one per device on <Topic>/<n>, in device
// order, `tempo` being the cycle's start in UTC.
std::vector<MqttMessage> MessaggiCiclo(const ImpostazioniMqtt& imp, const std::string& tempo,
                                       long ciclo, const std::vector<ValoreCiclo>& valori);

// With Discovery on: one retained Home Assistant discovery config per value
// of each device, on homeassistant/sensor/<ClientId>/<device>_<name>/config,
// pointing at the device's topic and the state topic; `dispositivi` holds
// the device of each line (DispositiviRighe).
std::vector<MqttMessage> MessaggiScoperta(const ImpostazioniMqtt& imp,
                                          const std::vector<Riga>& righe,
                                          const std::vector<int>& dispositivi);

// One retained message per node on <Topic>/status/<node> with its health
// counters; `adesso` and `ora` are the same moment on the monotonic clock
// and the calendar.
std::vector<MqttMessage> MessaggiStato(const ImpostazioniMqtt& imp, const Salute& salute,
                                       TimePoint adesso, WallTime ora);

// What the publishing is doing.
struct StatoPubblicazione {
    MqttStatus connessione;
    std::int64_t inAttesa = 0;   // messages in the journal
    std::int64_t scartati = 0;   // dropped to keep the journal under its cap
    std::string erroreGiornale;  // why the journal could not take a cycle
};

class Pubblicazione {
  public:
    // Messages handed to the connection and not yet acknowledged, at most.
    static constexpr std::size_t Finestra = 100;
    // A handed message still unacknowledged after this long, while
    // connected, is handed again.
    static constexpr Millis AttesaConferma{60000};

    Pubblicazione(Journal& journal, MqttClient& client, Clock& clock);
    ~Pubblicazione();
    Pubblicazione(const Pubblicazione&) = delete;
    Pubblicazione& operator=(const Pubblicazione&) = delete;

    // Opens the journal and starts the connection; false, with the cause,
    // when either cannot be done. `filo`: hand the journal over on a thread
    // of its own (tests call Passo instead).
    bool Avvia(const ImpostazioniMqtt& imp, std::string& errore, bool filo = true);

    // A cycle's messages to the journal; false, with the cause, when the
    // disk refused them.
    bool Accoda(const std::vector<MqttMessage>& messaggi, std::string& errore);
    // One round: forgets what the broker took, hands over what waits.
    void Passo();
    // What only tells the present state: not journaled, each replacing the
    // one before it, sent at the next round with a connection.
    void PubblicaStato(const std::vector<MqttMessage>& messaggi);
    // A clean end: waits up to `attesaMs` for the journal to empty (and
    // for the first connection, unless an attempt already failed), then
    // publishes "offline" and closes the connection. What is left stays in
    // the journal for the next start.
    void Ferma(int attesaMs);

    StatoPubblicazione stato();

  private:
    void filo();
    void sveglia();

    Journal& journal_;
    MqttClient& client_;
    Clock& clock_;
    ImpostazioniMqtt imp_;
    bool attiva_ = false;
    // Handed over and not acknowledged: message number to journal id, and
    // when it was handed.
    std::map<int, std::pair<std::int64_t, TimePoint>> inViaggio_;
    std::int64_t ultimoConsegnato_ = 0;  // the last journal id handed over
    std::string erroreGiornale_;
    std::vector<MqttMessage> stati_;  // waiting for a connection, by mutex_

    std::mutex mutex_;
    std::condition_variable risveglio_;
    bool svegliato_ = false;
    bool fine_ = false;
    std::thread filo_;
};

}  // namespace tarvel
