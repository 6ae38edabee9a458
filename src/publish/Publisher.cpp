#include "publish/Publisher.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>

#include "history/History.h"
#include "publish/Json.h"

namespace tarvel {

std::vector<MqttMessage> MessaggiCiclo(const MqttSettings& imp, const std::string& tempo,
                                       long ciclo, const std::vector<Reading>& letture) {
    std::vector<MqttMessage> messaggi;
    int dispositivo = 0;
    std::string valoriJson;
    const auto chiudi = [&] {
        if (dispositivo == 0) return;
        messaggi.push_back({imp.topic + "/" + std::to_string(dispositivo),
                            "{\"time\": " + StringaJson(tempo) + ", \"cycle\": " +
                                std::to_string(ciclo) + ", \"values\": {" + valoriJson + "}}",
                            imp.qos, imp.retain});
        valoriJson.clear();
    };
    for (const Reading& r : letture) {
        if (r.device != dispositivo) {
            chiudi();
            dispositivo = r.device;
        }
        if (!valoriJson.empty()) valoriJson += ", ";
        valoriJson += StringaJson(r.name) + ": ";
        // A number in JSON's own notation (0.5, not .5); a constant as a string.
        if (const std::optional<std::string> numero = JsonNumber(r))
            valoriJson += *numero;
        else if (const std::optional<std::string> testo = ValueText(r))
            valoriJson += StringaJson(*testo);
        else
            valoriJson += "null";
    }
    chiudi();
    return messaggi;
}

std::vector<MqttMessage> MessaggiScoperta(const MqttSettings& imp,
                                          const std::vector<RequestLine>& righe,
                                          const std::vector<int>& dispositivi) {
    // Topic levels and identifiers keep to letters, digits, "_" and "-".
    const auto pulito = [](std::string testo) {
        for (char& c : testo)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') c = '_';
        return testo;
    };
    const std::string cliente = pulito(imp.clientId);
    std::vector<MqttMessage> messaggi;
    std::vector<std::string> visti;
    for (std::size_t i = 0; i < righe.size() && i < dispositivi.size(); ++i) {
        const RequestLine& riga = righe[i];
        if (riga.tipo != LineKind::Read && riga.tipo != LineKind::Constant) continue;
        const int dispositivo = dispositivi[i];
        const std::string& nome = riga.campiEseguiti.Descrizione;
        const std::string oggetto = std::to_string(dispositivo) + "_" + pulito(nome);
        if (std::find(visti.begin(), visti.end(), oggetto) != visti.end()) continue;
        visti.push_back(oggetto);
        const std::string n = std::to_string(dispositivo);
        messaggi.push_back(
            {"homeassistant/sensor/" + cliente + "/" + oggetto + "/config",
             "{\"name\": " + StringaJson(nome) +
                 ", \"unique_id\": " + StringaJson(cliente + "_" + oggetto) +
                 ", \"state_topic\": " + StringaJson(imp.topic + "/" + n) +
                 ", \"value_template\": " +
                 StringaJson("{{ value_json['values'][" + StringaJson(nome) + "] }}") +
                 ", \"availability_topic\": " + StringaJson(imp.topic + "/state") +
                 ", \"device\": {\"identifiers\": [" + StringaJson(cliente + "_" + n) +
                 "], \"name\": " + StringaJson(imp.topic + "/" + n) + ", \"model\": \"Tarvel\"}}",
             1, true});
    }
    return messaggi;
}

std::vector<MqttMessage> MessaggiStato(const MqttSettings& imp, const Health& salute,
                                       TimePoint adesso, WallTime ora) {
    std::vector<MqttMessage> messaggi;
    for (const auto& [nodo, s] : salute.nodi()) {
        std::string eccezioni;
        for (const auto& [codice, volte] : s.eccezioni)
            eccezioni += (eccezioni.empty() ? "\"" : ", \"") + std::to_string(codice) +
                         "\": " + std::to_string(volte);
        std::string mediano = "null";
        if (const auto t = s.tempoMediano()) {
            char testo[32];
            std::snprintf(testo, sizeof testo, "%.1f", static_cast<double>(t->count()) / 1000.0);
            mediano = testo;
        }
        const std::string ultima =
            s.ultimaBuona
                ? StringaJson(TestoUTC(ora - std::chrono::duration_cast<WallTime::duration>(
                                                 adesso - *s.ultimaBuona)))
                : "null";
        messaggi.push_back({imp.topic + "/status/" + std::to_string(nodo),
                            "{\"time\": " + StringaJson(TestoUTC(ora)) +
                                ", \"requests\": " + std::to_string(s.richieste) +
                                ", \"good\": " + std::to_string(s.buone) +
                                ", \"timeouts\": " + std::to_string(s.timeOut) +
                                ", \"crc_errors\": " + std::to_string(s.erroriCRC) +
                                ", \"wrong_answers\": " + std::to_string(s.risposteErrate) +
                                ", \"exceptions\": {" + eccezioni +
                                "}, \"skipped\": " + std::to_string(s.saltate) +
                                ", \"median_ms\": " + mediano + ", \"last_good\": " + ultima + "}",
                            imp.qos, true});
    }
    return messaggi;
}

Publisher::Publisher(Journal& journal, MqttClient& client, Clock& clock)
    : journal_(journal), client_(client), clock_(clock) {}

Publisher::~Publisher() {
    consegne_.stop();
    client_.onEvent(nullptr);
}

bool Publisher::Avvia(const MqttSettings& imp, std::string& errore, bool filo) {
    imp_ = imp;
    riapriGiornale();
    {
        // Told once: a journal moved aside, or why there is none.
        std::lock_guard lock(mutex_);
        erroreGiornale_ = causaGiornale_;
    }
    MqttConnection c;
    c.host = imp.host;
    c.port = imp.port;
    c.clientId = imp.clientId;
    c.user = imp.user;
    c.password = imp.password;
    c.caFile = imp.caFile;
    c.will = MqttMessage{imp.topic + "/state", "offline", 1, true};
    c.greeting = MqttMessage{imp.topic + "/state", "online", 1, true};
    client_.onEvent([this] { sveglia(); });
    if (!client_.start(c, errore)) return false;
    attiva_ = true;
    // Also once a second without news: a lost connection comes back.
    if (filo) consegne_.start([this] { Passo(); }, std::chrono::seconds(1));
    return true;
}

// At the start, and again now and then while there is none.
void Publisher::riapriGiornale() {
    if (giornaleAperto_ || clock_.now() < prossimaProva_) return;
    causaGiornale_.clear();
    giornaleAperto_ = journal_.open(imp_.journal, imp_.journalMB * 1024 * 1024, causaGiornale_);
    if (!giornaleAperto_) prossimaProva_ = clock_.now() + RiprovaGiornale;
}

bool Publisher::Accoda(const std::vector<MqttMessage>& messaggi, std::string& errore) {
    if (!attiva_ || messaggi.empty()) return true;
    riapriGiornale();
    bool fatto = false;
    {
        std::lock_guard lock(mutex_);
        if (!giornaleAperto_) {
            errore = causaGiornale_;
        } else if (clock_.now() < prossimaProva_) {
            errore = erroreGiornale_;
        } else if (memoria_.empty()) {
            fatto = journal_.append(messaggi, errore);
        } else {
            // What waits in memory goes back to the journal first.
            std::vector<MqttMessage> tutti;
            for (const auto& voce : memoria_) tutti.push_back(voce.second);
            tutti.insert(tutti.end(), messaggi.begin(), messaggi.end());
            fatto = journal_.append(tutti, errore);
            if (fatto) memoria_.clear();
        }
        if (!fatto && giornaleAperto_ && clock_.now() >= prossimaProva_)
            prossimaProva_ = clock_.now() + RiprovaGiornale;
        if (!fatto) inMemoria(messaggi);
        erroreGiornale_ = fatto ? std::string() : errore;
    }
    sveglia();
    return fatto;
}

// By mutex_. Past the bound the oldest go, counted.
void Publisher::inMemoria(const std::vector<MqttMessage>& messaggi) {
    for (const MqttMessage& m : messaggi) memoria_.emplace_back(++numeroInMemoria_, m);
    while (memoria_.size() > MassimoInMemoria) {
        memoria_.pop_front();
        ++scartatiInMemoria_;
    }
}

void Publisher::PubblicaStato(const std::vector<MqttMessage>& messaggi) {
    if (!attiva_) return;
    {
        std::lock_guard lock(mutex_);
        for (const MqttMessage& m : messaggi) {
            const auto stesso = std::find_if(stati_.begin(), stati_.end(),
                                             [&](const auto& s) { return s.topic == m.topic; });
            if (stesso != stati_.end())
                *stesso = m;
            else
                stati_.push_back(m);
        }
    }
    sveglia();
}

void Publisher::sveglia() { consegne_.wake(); }

void Publisher::Passo() {
    std::vector<std::int64_t> presi;
    for (const int numero : client_.takeDelivered()) {
        const auto it = inViaggio_.find(numero);
        if (it == inViaggio_.end()) continue;
        if (it->second.inMemoria) {
            std::lock_guard lock(mutex_);
            std::erase_if(memoria_, [&](const auto& voce) { return voce.first == it->second.id; });
        } else {
            presi.push_back(it->second.id);
        }
        inViaggio_.erase(it);
    }
    if (!presi.empty()) journal_.remove(presi);
    if (client_.status().state != MqttState::Connected) return;
    {
        std::lock_guard lock(mutex_);
        while (!stati_.empty() && client_.publish(stati_.front())) stati_.erase(stati_.begin());
    }
    const TimePoint adesso = clock_.now();
    // A message the broker never acknowledged, though connected all along:
    // everything still waiting is handed over again, in order.
    for (const auto& [numero, voce] : inViaggio_) {
        if (adesso - voce.quando < AttesaConferma) continue;
        inViaggio_.clear();
        ultimoConsegnato_ = ultimoInMemoria_ = 0;
        break;
    }
    consegna(adesso);
}

// The journal's messages first, then memory's, which are newer; no more
// than the window unacknowledged.
void Publisher::consegna(TimePoint adesso) {
    if (inViaggio_.size() >= Finestra) return;
    const std::size_t posto = Finestra - inViaggio_.size();
    const std::vector<JournalEntry> voci = journal_.next(ultimoConsegnato_, posto);
    for (const JournalEntry& e : voci) {
        const std::optional<int> numero = client_.publish(e.message);
        if (!numero) return;
        inViaggio_[*numero] = {false, e.id, adesso};
        ultimoConsegnato_ = e.id;
    }
    if (voci.size() == posto) return;
    std::lock_guard lock(mutex_);
    for (const auto& [n, m] : memoria_) {
        if (n <= ultimoInMemoria_) continue;
        if (inViaggio_.size() >= Finestra) return;
        const std::optional<int> numero = client_.publish(m);
        if (!numero) return;
        inViaggio_[*numero] = {true, n, adesso};
        ultimoInMemoria_ = n;
    }
}

bool Publisher::tuttoConsegnato() {
    if (!inViaggio_.empty() || !journal_.next(ultimoConsegnato_, 1).empty()) return false;
    std::lock_guard lock(mutex_);
    return memoria_.empty() || memoria_.back().first <= ultimoInMemoria_;
}

void Publisher::Ferma(int attesaMs) {
    if (!attiva_) return;
    consegne_.stop();
    const auto connesso = [this] { return client_.status().state == MqttState::Connected; };
    // A first attempt under way gets a moment; a broker that cannot be
    // reached holds nothing up.
    const TimePoint inizio = clock_.now();
    const Millis grazia = std::min(Millis(attesaMs), AttesaConnessione);
    while (!connesso() && client_.status().error.empty() && clock_.now() - inizio < grazia)
        clock_.sleep(Millis(10));
    Millis resto{0};
    if (connesso()) {
        const TimePoint limite = clock_.now() + Millis(attesaMs);
        for (;;) {
            Passo();
            if (tuttoConsegnato() || !connesso() || clock_.now() >= limite) break;
            clock_.sleep(Millis(5));
        }
        resto = std::max(Millis(0), std::chrono::duration_cast<Millis>(limite - clock_.now()));
    }
    client_.stop(MqttMessage{imp_.topic + "/state", "offline", 1, true},
                 static_cast<int>(resto.count()));
    attiva_ = false;
}

PublisherStatus Publisher::stato() {
    PublisherStatus s;
    s.connessione = client_.status();
    s.inAttesa = journal_.size();
    s.scartati = journal_.dropped();
    std::lock_guard lock(mutex_);
    s.inAttesa += static_cast<std::int64_t>(memoria_.size());
    s.scartatiInMemoria = scartatiInMemoria_;
    s.erroreGiornale = erroreGiornale_;
    return s;
}

}  // namespace tarvel
