#include "modbus/SerialProfile.h"

#include "modbus/Transaction.h"
#include "modbus/LineSettingsText.h"
#include "modbus/MBus.h"
#include "modbus/Frame.h"
#include "settings/KeyRules.h"
#include "settings/Number.h"

namespace tarvel {
namespace {

const char* const TestiHandshaking[] = {"None", "XonXoff", "RTS", "RTSXonXoff"};
const char* OnOff(bool on) { return on ? "On" : "Off"; }

ProfileError errore(ProfileErrorCause causa, std::string chiave = {}, std::string valore = {}) {
    return {causa, std::move(chiave), std::move(valore), {}, {}};
}

// A whole number from minimo to massimo, as the text's leading number.
std::optional<std::int32_t> intero(const std::string& testo, std::int32_t minimo,
                                   std::int32_t massimo) {
    const double numero = NumeroIniziale(testo);
    auto intero = ArrotondaInt32(numero);
    if (!intero || *intero != numero || *intero < minimo || *intero > massimo) return std::nullopt;
    return intero;
}

// A key that a profile may leave out: empty or missing keeps the profile's
// default; any other value must be a whole number from min to max that
// apply takes, or the profile fails naming the key.
struct OptionalKey {
    const char* key;
    std::int32_t min;
    std::int32_t max;
    bool (*apply)(SerialProfile&, std::int32_t);  // false: refused
};

constexpr OptionalKey OptionalKeys[] = {
    {"Pause", 0, 60000,
     [](SerialProfile& p, std::int32_t v) {
         p.pausaMs = v;
         p.pausaImpostata = true;
         return true;
     }},
    {"Skip", 0, INT32_MAX,
     [](SerialProfile& p, std::int32_t v) {
         p.saltaDopo = v;
         return true;
     }},
    // One item is no block.
    {"Block", 0, MassimoBloccoBit,
     [](SerialProfile& p, std::int32_t v) {
         p.blocco = v;
         return v != 1;
     }},
    {"Gap", 0, MassimoBloccoBit - 2,
     [](SerialProfile& p, std::int32_t v) {
         p.lacuna = v;
         return true;
     }},
    // An adapter that hears its own requests.
    {"Echo", 0, 1,
     [](SerialProfile& p, std::int32_t v) {
         p.echo = v == 1;
         return true;
     }},
};

}  // namespace

ProfileRead LeggiProfilo(const KeyReader& leggi) {
    auto valore = [&](const char* chiave, const char* predefinito) {
        return Maiuscolo(Trim(leggi(chiave, predefinito)));
    };
    auto fallita = [](ProfileError e) { return ProfileRead{std::nullopt, std::move(e)}; };
    SerialProfile p;
    p.com = valore("COM", "*");
    if (p.com == "*" || p.com.empty()) return fallita(errore(ProfileErrorCause::MissingKey, "COM"));
    p.settings = valore("Settings", "*");
    if (p.settings == "*" || p.settings.empty())
        return fallita(errore(ProfileErrorCause::MissingKey, "Settings"));
    const std::string handshaking = valore("Handshaking", "0");
    auto h = ArrotondaInt16(NumeroIniziale(handshaking));
    if (!h) return fallita(errore(ProfileErrorCause::InvalidValue, "Handshaking", handshaking));
    // A number outside 0 to 3 means no flow control.
    p.handshaking = *h >= 0 && *h <= 3 ? *h : 0;
    p.nullDiscard = valore("NullDiscard", "0") == "1";
    p.dtr = valore("DTR", "0") == "1";
    p.rts = valore("RTS", "0") == "1";

    std::string timeout = valore("TimeOut", "");
    if (timeout.empty()) timeout = "800";
    auto t = intero(timeout, 0, MBus::TimeOutMassimo);
    if (!t) return fallita(errore(ProfileErrorCause::InvalidValue, "TimeOut", timeout));
    p.timeOutMs = *t;

    std::string retry = valore("Retry", "1");
    if (retry.empty() || NumeroIniziale(retry) <= 0) retry = "1";
    auto r = intero(retry, 1, INT32_MAX);
    if (!r) return fallita(errore(ProfileErrorCause::InvalidValue, "Retry", retry));
    p.retry = *r;

    for (const OptionalKey& k : OptionalKeys) {
        // Digits have no case: the value is named as written.
        const std::string testo(Trim(leggi(k.key, "")));
        if (testo.empty()) continue;
        const auto n = WholeNumberIn(testo, k.min, k.max);
        if (!n || !k.apply(p, static_cast<std::int32_t>(*n)))
            return fallita(errore(ProfileErrorCause::InvalidValue, k.key, testo));
    }
    return {p, {}};
}

ProfileError ConfiguraProfilo(MBus& mbus, const SerialProfile& p) {
    auto rifiutata = [&](const char* chiave, const std::string& valore) {
        ProfileError e = errore(ProfileErrorCause::PortRefused, chiave, valore);
        e.dettaglio = mbus.errorePorta();
        return e;
    };
    // Settings the line cannot take are refused before the port is asked:
    // its last reason would belong to an earlier request.
    const std::optional<LineSettings> linea = LeggiImpostazioniLinea(p.settings);
    if (!linea) return errore(ProfileErrorCause::PortRefused, "Settings", p.settings);
    if (!mbus.ConfiguraPorta(p.com, p.settings, p.handshaking, p.nullDiscard, p.dtr, p.rts)) {
        const bool numero = mbus.numeroRifiutato() || mbus.LeggiCommPort() != p.com;
        return rifiutata(numero ? "COM" : "Settings", numero ? p.com : p.settings);
    }
    mbus.ImpostaTimeOut(p.timeOutMs);
    mbus.ImpostaRetry(p.retry);
    mbus.ImpostaSilenzio(p.pausaImpostata ? SilenzioTraTrame(linea->baud)
                                          : std::chrono::microseconds(0));
    mbus.setEcho(p.echo);
    // The port keeps the number of the text's last two characters.
    if (mbus.LeggiCommPort() != p.com) return rifiutata("COM", p.com);
    if (Maiuscolo(mbus.LeggiSettings()) != p.settings) return rifiutata("Settings", p.settings);
    return {};
}

std::array<std::string, 6> PannelliProfilo(const SerialProfile& p, const std::string& rete) {
    if (!rete.empty()) return {"COM " + p.com, rete, "", "", "", ""};
    return {"COM " + p.com,
            p.settings,
            std::string("Handshaking: ") + TestiHandshaking[p.handshaking],
            std::string("Null Discard: ") + OnOff(p.nullDiscard),
            std::string("DTR: ") + OnOff(p.dtr),
            std::string("RTS: ") + OnOff(p.rts)};
}

std::string DescriviErrorePorta(const PortError& e) {
    const std::string& d = e.device;
    const std::string sistema = e.systemError.empty() ? "" : " (" + e.systemError + ")";
    switch (e.fault) {
        case PortFault::NoDevice:
            return d.empty() ? "nessun dispositivo per questo numero di porta"
                             : "il dispositivo " + d + " non esiste";
        case PortFault::NotCharDevice:
            return d + " non è un dispositivo seriale" + sistema;
        case PortFault::AccessDenied:
            return "accesso negato a " + d + sistema +
                   (e.group.empty()
                        ? std::string()
                        : ": l'utente deve appartenere al gruppo " + e.group +
                              " (sudo usermod -aG " + e.group + " $USER, poi un nuovo accesso)");
        case PortFault::InUse:
            return d + " è già in uso da un altro programma";
        case PortFault::NoConnection:
            return "nessuna connessione con " + d + sistema;
        case PortFault::None:
        case PortFault::Other:
            break;
    }
    return "impossibile aprire " + (d.empty() ? std::string("la porta") : d) + sistema;
}

std::string DescriviErroreProfilo(const std::string& sezione, const ProfileError& e) {
    std::string dove = "[" + sezione + "]" + (e.chiave.empty() ? "" : " " + e.chiave);
    std::string testo;
    switch (e.causa) {
        case ProfileErrorCause::None:
            return {};
        case ProfileErrorCause::MissingKey:
            testo = dove + ": chiave mancante o vuota";
            break;
        case ProfileErrorCause::InvalidValue:
            testo = dove + ": valore non valido \"" + e.valore + "\"";
            break;
        case ProfileErrorCause::PortRefused:
            testo = dove + ": valore non accettato dalla porta \"" + e.valore + "\"";
            break;
        case ProfileErrorCause::PortNotOpened:
            return dove + " " + e.valore + ": " + DescriviErrorePorta(e.porta);
        case ProfileErrorCause::OutOfRange:
            return "riga \"" + e.valore + "\": numero di profilo fuori dall'intervallo";
    }
    if (!e.dettaglio.empty()) testo += " (" + e.dettaglio + ")";
    return testo;
}

}  // namespace tarvel
