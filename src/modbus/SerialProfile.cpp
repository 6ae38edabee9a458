#include "modbus/SerialProfile.h"

#include "modbus/Transaction.h"
#include "modbus/LineSettingsText.h"
#include "modbus/MBus.h"
#include "modbus/Frame.h"
#include "settings/KeyRules.h"
#include "settings/Number.h"

namespace tarvel {
namespace {

const char* const HandshakingTexts[] = {"None", "XonXoff", "RTS", "RTSXonXoff"};
const char* OnOff(bool on) { return on ? "On" : "Off"; }

ProfileError error(ProfileErrorCause cause, std::string key = {}, std::string value = {}) {
    return {cause, std::move(key), std::move(value), {}, {}};
}

// A whole number from lowest to highest, as the text's leading number.
std::optional<std::int32_t> integer(const std::string& text, std::int32_t lowest,
                                   std::int32_t highest) {
    const double number = LeadingNumber(text);
    auto integer = RoundToInt32(number);
    if (!integer || *integer != number || *integer < lowest || *integer > highest) return std::nullopt;
    return integer;
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
         p.pauseMs = v;
         p.pauseSet = true;
         return true;
     }},
    {"Skip", 0, INT32_MAX,
     [](SerialProfile& p, std::int32_t v) {
         p.skipAfter = v;
         return true;
     }},
    // One item is no block.
    {"Block", 0, MaxBlockBits,
     [](SerialProfile& p, std::int32_t v) {
         p.block = v;
         return v != 1;
     }},
    {"Gap", 0, MaxBlockBits - 2,
     [](SerialProfile& p, std::int32_t v) {
         p.gap = v;
         return true;
     }},
    // An adapter that hears its own requests.
    {"Echo", 0, 1,
     [](SerialProfile& p, std::int32_t v) {
         p.echo = v == 1;
         return true;
     }},
    {"Window", 1, 16,
     [](SerialProfile& p, std::int32_t v) {
         p.window = v;
         return true;
     }},
};

}  // namespace

ProfileRead ReadProfile(const KeyReader& read) {
    auto value = [&](const char* key, const char* fallback) {
        return ToUpper(Trim(read(key, fallback)));
    };
    auto failed = [](ProfileError e) { return ProfileRead{std::nullopt, std::move(e)}; };
    SerialProfile p;
    p.com = value("COM", "*");
    if (p.com == "*" || p.com.empty()) return failed(error(ProfileErrorCause::MissingKey, "COM"));
    p.settings = value("Settings", "*");
    if (p.settings == "*" || p.settings.empty())
        return failed(error(ProfileErrorCause::MissingKey, "Settings"));
    const std::string handshaking = value("Handshaking", "0");
    auto h = RoundToInt16(LeadingNumber(handshaking));
    if (!h) return failed(error(ProfileErrorCause::InvalidValue, "Handshaking", handshaking));
    // A number outside 0 to 3 means no flow control.
    p.handshaking = *h >= 0 && *h <= 3 ? *h : 0;
    p.nullDiscard = value("NullDiscard", "0") == "1";
    p.dtr = value("DTR", "0") == "1";
    p.rts = value("RTS", "0") == "1";

    std::string timeout = value("TimeOut", "");
    if (timeout.empty()) timeout = "800";
    auto t = integer(timeout, 0, MBus::MaxTimeOut);
    if (!t) return failed(error(ProfileErrorCause::InvalidValue, "TimeOut", timeout));
    p.timeOutMs = *t;

    std::string retry = value("Retry", "1");
    if (retry.empty() || LeadingNumber(retry) <= 0) retry = "1";
    auto r = integer(retry, 1, INT32_MAX);
    if (!r) return failed(error(ProfileErrorCause::InvalidValue, "Retry", retry));
    p.retry = *r;

    for (const OptionalKey& k : OptionalKeys) {
        // Digits have no case: the value is named as written.
        const std::string text(Trim(read(k.key, "")));
        if (text.empty()) continue;
        const auto n = WholeNumberIn(text, k.min, k.max);
        if (!n || !k.apply(p, static_cast<std::int32_t>(*n)))
            return failed(error(ProfileErrorCause::InvalidValue, k.key, text));
    }
    return {p, {}};
}

ProfileError ConfigureProfile(MBus& mbus, const SerialProfile& p) {
    auto refused = [&](const char* key, const std::string& value) {
        ProfileError e = error(ProfileErrorCause::PortRefused, key, value);
        e.detail = mbus.portErrorText();
        return e;
    };
    // Settings the line cannot take are refused before the port is asked:
    // its last reason would belong to an earlier request.
    const std::optional<LineSettings> linea = ParseLineSettings(p.settings);
    if (!linea) return error(ProfileErrorCause::PortRefused, "Settings", p.settings);
    if (!mbus.ConfiguraPorta(p.com, p.settings, p.handshaking, p.nullDiscard, p.dtr, p.rts)) {
        const bool number = mbus.numberRefused() || mbus.LeggiCommPort() != p.com;
        return refused(number ? "COM" : "Settings", number ? p.com : p.settings);
    }
    mbus.ImpostaTimeOut(p.timeOutMs);
    mbus.ImpostaRetry(p.retry);
    // The silence that ends an RTU frame belongs to the serial line: a
    // network port sends at once, and a gateway keeps the serial timing on
    // its own side.
    const bool serialLine = mbus.NetworkText().empty();
    mbus.SetSilence(p.pauseSet && serialLine ? InterFrameSilence(linea->baud)
                                             : std::chrono::microseconds(0));
    mbus.setEcho(p.echo);
    // Only a Modbus TCP answer names its request: elsewhere one request at
    // a time.
    if (p.window > 1 && mbus.linkKind() != LinkKind::ModbusTcp) {
        ProfileError e = error(ProfileErrorCause::PortRefused, "Window", std::to_string(p.window));
        e.detail = "più richieste in attesa solo su mbtcp://";
        return e;
    }
    mbus.setWindow(p.window);
    // The port keeps the number of the text's last two characters.
    if (mbus.LeggiCommPort() != p.com) return refused("COM", p.com);
    if (ToUpper(mbus.LeggiSettings()) != p.settings) return refused("Settings", p.settings);
    return {};
}

std::array<std::string, 6> ProfilePanels(const SerialProfile& p, const std::string& network) {
    if (!network.empty()) return {"COM " + p.com, network, "", "", "", ""};
    return {"COM " + p.com,
            p.settings,
            std::string("Handshaking: ") + HandshakingTexts[p.handshaking],
            std::string("Null Discard: ") + OnOff(p.nullDiscard),
            std::string("DTR: ") + OnOff(p.dtr),
            std::string("RTS: ") + OnOff(p.rts)};
}

std::string DescribePortError(const PortError& e) {
    const std::string& d = e.device;
    const std::string systemName = e.systemError.empty() ? "" : " (" + e.systemError + ")";
    switch (e.fault) {
        case PortFault::NoDevice:
            return d.empty() ? "nessun dispositivo per questo numero di porta"
                             : "il dispositivo " + d + " non esiste";
        case PortFault::NotCharDevice:
            return d + " non è un dispositivo seriale" + systemName;
        case PortFault::AccessDenied:
            return "accesso negato a " + d + systemName +
                   (e.group.empty()
                        ? std::string()
                        : ": l'utente deve appartenere al gruppo " + e.group +
                              " (sudo usermod -aG " + e.group + " $USER, poi un nuovo accesso)");
        case PortFault::InUse:
            return d + " è già in uso da un altro programma";
        case PortFault::NoConnection:
            return "nessuna connessione con " + d + systemName;
        case PortFault::None:
        case PortFault::Other:
            break;
    }
    return "impossibile aprire " + (d.empty() ? std::string("la porta") : d) + systemName;
}

std::string DescribeProfileError(const std::string& section, const ProfileError& e) {
    std::string location = "[" + section + "]" + (e.key.empty() ? "" : " " + e.key);
    std::string text;
    switch (e.cause) {
        case ProfileErrorCause::None:
            return {};
        case ProfileErrorCause::MissingKey:
            text = location + ": chiave mancante o vuota";
            break;
        case ProfileErrorCause::InvalidValue:
            text = location + ": valore non valido \"" + e.value + "\"";
            break;
        case ProfileErrorCause::PortRefused:
            text = location + ": valore non accettato dalla porta \"" + e.value + "\"";
            break;
        case ProfileErrorCause::PortNotOpened:
            return location + " " + e.value + ": " + DescribePortError(e.port);
        case ProfileErrorCause::OutOfRange:
            return "riga \"" + e.value + "\": numero di profilo fuori dall'intervallo";
    }
    if (!e.detail.empty()) text += " (" + e.detail + ")";
    return text;
}

}  // namespace tarvel
