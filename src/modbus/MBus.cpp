#include "modbus/MBus.h"

#include <cmath>
#include <cstdio>

#include "modbus/Trama.h"
#include "settings/Numero.h"

namespace tarvel {
namespace {

constexpr Millis IntervalloRiapertura{1000};
const std::string Fallito = "99999";

std::uint8_t highByte(std::int32_t value) {
    return static_cast<std::uint8_t>((static_cast<std::uint32_t>(value) >> 8) & 0xFF);
}
std::uint8_t lowByte(std::int32_t value) {
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) & 0xFF);
}

std::string hexByte(std::uint8_t b, bool leadingZero) {
    char text[3];
    std::snprintf(text, sizeof text, leadingZero ? "%02X" : "%X", b);
    return text;
}

std::string joinBytes(const Bytes& bytes, const char* format) {
    std::string out;
    char text[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(text, sizeof text, format, bytes[i]);
        if (i) out += ' ';
        out += text;
    }
    return out;
}

double scala(double raw, std::int16_t decimali) { return raw / std::pow(10.0, decimali); }

}  // namespace

const char* TestoEsito(EsitoTransazione esito) {
    switch (esito) {
        case EsitoTransazione::Completa:
            return "";
        case EsitoTransazione::TimeOut:
            return " Time out";
        case EsitoTransazione::Broadcast:
            return " Broadcast";
        case EsitoTransazione::Eccezione:
            return " (Exception)";
        case EsitoTransazione::ErroreCRC:
            return " (CRC error)";
        case EsitoTransazione::RispostaErrata:
            return " (Wrong answer)";
    }
    return "";
}

MBus::MBus(SerialPort& port, Clock& clock) : port_(port), clock_(clock) {}

// --- Port configuration -----------------------------------------------------

bool MBus::ConfiguraPorta(const std::string& com, const std::string& settings, int handshaking,
                          bool nullDiscard, bool dtr, bool rts) {
    // The port number is the last two characters of the text.
    std::string digits = com.size() > 2 ? com.substr(com.size() - 2) : com;
    if (digits.empty()) return false;
    for (char c : digits)
        if (c < '0' || c > '9') return false;
    // A new configuration starts afresh: a device lost under the old one is
    // no longer waited for.
    portaPersa_ = false;
    if (!port_.setPortNumber(std::stoi(digits))) return false;
    if (!port_.setSettings(settings)) return false;
    port_.discardInput();
    port_.setHandshake(handshaking >= 0 && handshaking <= 3 ? static_cast<Handshake>(handshaking)
                                                            : Handshake::None);
    port_.setNullDiscard(nullDiscard);
    port_.setDtr(dtr);
    port_.setRts(rts);
    return true;
}

bool MBus::ApriPorta(bool apri) {
    if (!apri) {
        portaPersa_ = false;
        port_.close();
        return true;
    }
    if (port_.isOpen()) return true;
    return port_.open();
}

bool MBus::ImpostaTimeOut(std::int32_t millisecondi) {
    if (millisecondi < 0 || millisecondi > 10000) return false;
    TimeOutMs = millisecondi;
    return true;
}

std::int32_t MBus::LeggiTimeOut() const { return TimeOutMs; }

bool MBus::ImpostaRetry(std::int32_t tentativi) {
    if (tentativi < 1) {
        Retry = 1;
        return false;
    }
    Retry = tentativi;
    return true;
}

std::string MBus::LeggiCommPort() const { return std::to_string(port_.portNumber()); }
std::string MBus::LeggiSettings() const { return port_.settings(); }

// --- Monitor ----------------------------------------------------------------

std::string MBus::TestoHex(const Bytes& bytes) { return joinBytes(bytes, "%02X"); }
std::string MBus::TestoDec(const Bytes& bytes) { return joinBytes(bytes, "%03u"); }

void MBus::ImpostaNotazione(std::int16_t indice) {
    if (indice == 0) {
        NotazioneDec = true;
        NotazioneHex = false;
    } else if (indice == 1) {
        NotazioneHex = true;
        NotazioneDec = false;
    }
}

std::string MBus::notazione(const Bytes& bytes) const {
    return NotazioneHex ? TestoHex(bytes) : TestoDec(bytes);
}

void MBus::registraRichiesta(const Bytes& trama) {
    if (!MonitorAttivo) return;
    monitor_.aggiungiRichiesta(notazione(trama));
    if (monitorChanged_) monitorChanged_();
}

void MBus::registraRisposta(const Bytes& bytes, EsitoTransazione esito) {
    if (!MonitorAttivo) return;
    monitor_.aggiungiRisposta(std::string(Trim(notazione(bytes) + TestoEsito(esito))));
    if (monitorChanged_) monitorChanged_();
}

// --- The exchange -----------------------------------------------------------

void MBus::riapriSePerso() {
    if (port_.deviceLost()) {
        // The device went away under the open port: close it, so that it can
        // be opened again when the device is back.
        port_.close();
        portaPersa_ = true;
        ultimoTentativo_ = clock_.now();
        return;
    }
    if (!portaPersa_ || clock_.now() - ultimoTentativo_ < IntervalloRiapertura) return;
    ultimoTentativo_ = clock_.now();
    ++contatori_.riaperture;
    if (port_.open()) portaPersa_ = false;
}

Bytes MBus::attendiRisposta(const Bytes& trama, int lunghezzaAttesa, bool& completa) {
    Bytes ricevuti;
    const TimePoint scadenza = clock_.now() + Millis(TimeOutMs);
    completa = false;
    // Pending events run inside each wait: the loop never spins.
    for (;;) {
        Bytes nuovi = port_.readAll();
        ricevuti.insert(ricevuti.end(), nuovi.begin(), nuovi.end());
        if (static_cast<int>(ricevuti.size()) >= lunghezzaAttesa) {
            completa = true;
            return ricevuti;
        }
        // An exception answer is complete at five bytes: no need to wait on.
        if (RispostaEccezione(trama, ricevuti)) return ricevuti;
        if (clock_.now() >= scadenza) return ricevuti;
        if (port_.deviceLost()) {
            port_.close();
            portaPersa_ = true;
            ultimoTentativo_ = clock_.now();
        }
        port_.waitForInput(scadenza);
    }
}

bool MBus::EseguiTransazione(std::int16_t nodo, int lunghezzaAttesa, const Bytes& trama) {
    ++contatori_.transazioni;
    riapriSePerso();
    // A late answer to an earlier request must not be taken for this one.
    port_.discardInput();
    port_.write(trama);
    registraRichiesta(trama);

    bool completa = false;
    Bytes ricevuti = attendiRisposta(trama, lunghezzaAttesa, completa);

    if (completa) {
        BufferRisposta = ricevuti;
        switch (ControllaRisposta(trama, ricevuti)) {
            case EsitoRisposta::Valida:
                esito_ = EsitoTransazione::Completa;
                break;
            case EsitoRisposta::ErroreCRC:
                esito_ = EsitoTransazione::ErroreCRC;
                break;
            case EsitoRisposta::RispostaErrata:
                esito_ = EsitoTransazione::RispostaErrata;
                break;
        }
    } else if (ricevuti.size() >= 2) {
        BufferRisposta = ricevuti;
        esito_ = EsitoTransazione::Eccezione;
    } else {
        // Nothing, or one stray byte: nothing came.
        ricevuti.clear();
        esito_ = nodo == 0 ? EsitoTransazione::Broadcast : EsitoTransazione::TimeOut;
    }
    registraRisposta(ricevuti, esito_);
    bool ok = esito_ == EsitoTransazione::Completa;
    if (!ok) ++contatori_.fallite;
    return ok;
}

// --- Value reads ------------------------------------------------------------

std::string MBus::LeggiHex(std::int16_t funzione, std::int32_t alto, std::int32_t basso,
                           std::int16_t nodo) {
    int lunghezza = LunghezzaRisposta(funzione);
    if (lunghezza == 0) return Fallito;
    Bytes trama =
        CostruisciTrama(8, static_cast<std::uint8_t>(nodo), static_cast<std::uint8_t>(funzione),
                        {lowByte(alto), lowByte(basso), 0, 1});
    if (!EseguiTransazione(nodo, lunghezza, trama)) return Fallito;
    if (funzione <= 2) return hexByte(BufferRisposta[3], false);
    return hexByte(BufferRisposta[3], true) + hexByte(BufferRisposta[4], true);
}

double MBus::LeggiValore16(std::int16_t funzione, std::int16_t registro, std::int16_t nodo,
                           std::int16_t decimali, bool senzaSegno) {
    clock_.processEvents();
    double risultato = ValoreFallito;
    std::string testo = Fallito;
    for (int tentativo = 0; tentativo < Retry && testo == Fallito; ++tentativo)
        testo = LeggiHex(funzione, highByte(registro), lowByte(registro), nodo);
    if (testo != Fallito) {
        auto raw = static_cast<std::uint32_t>(std::stoul(testo, nullptr, 16));
        double valore = (!senzaSegno && testo.size() == 4)
                            ? static_cast<std::int16_t>(static_cast<std::uint16_t>(raw))
                            : static_cast<double>(raw);
        risultato = scala(valore, decimali);
    }
    clock_.processEvents();
    return risultato;
}

double MBus::LeggiValore32(std::int16_t funzione, std::int16_t registro, std::int16_t nodo,
                           std::int16_t decimali, bool bassoSuccessivo, bool senzaSegno) {
    clock_.processEvents();
    double risultato = ValoreFallito;
    auto primo = static_cast<std::uint16_t>(registro);
    auto secondo = static_cast<std::uint16_t>(bassoSuccessivo ? primo + 1 : primo - 1);
    std::string testo1 = Fallito, testo2 = Fallito;
    for (int tentativo = 0; tentativo < Retry; ++tentativo) {
        testo1 = LeggiHex(funzione, primo >> 8, primo & 0xFF, nodo);
        clock_.processEvents();
        testo2 = LeggiHex(funzione, secondo >> 8, secondo & 0xFF, nodo);
        if (testo1 != Fallito && testo2 != Fallito) break;
    }
    if (testo1 != Fallito && testo2 != Fallito) {
        // The two texts written one after the other, read as one number.
        std::uint64_t raw = std::stoull(testo1 + testo2, nullptr, 16) & 0xFFFFFFFFull;
        double valore = senzaSegno ? static_cast<double>(raw)
                                   : static_cast<std::int32_t>(static_cast<std::uint32_t>(raw));
        risultato = scala(valore, decimali);
    }
    clock_.processEvents();
    return risultato;
}

}  // namespace tarvel
