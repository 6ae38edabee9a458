// Configuring the serial port from one "Serial_" profile of the settings.

#include <cmath>

#include "acquisition/Programma.h"
#include "settings/Numero.h"

namespace tarvel {
namespace {

const char* const TestiHandshaking[] = {"None", "XonXoff", "RTS", "RTSXonXoff"};
const char* OnOff(bool on) { return on ? "On" : "Off"; }

struct Profilo {
    std::string com, settings, timeout, retry;
    int handshaking = 0;
    bool nullDiscard = false, dtr = false, rts = false;
};

}  // namespace

bool Programma::erroreImpostazionePorta() {
    notifica(&MainView::nascondiSplash);
    p_.dialogs.messageBox(stato_.didascalia, "Errore nell'impostazione della porta seriale.",
                          Icon::Exclamation, Buttons::Ok, Answer::Ok);
    return false;
}

bool Programma::ImpostaPortaSeriale(std::int16_t n) {
    const std::string sezione = "Serial_" + std::to_string(n);
    auto valore = [&](const char* chiave, const char* predefinito) {
        return Maiuscolo(Trim(LeggiIni(sezione, chiave, predefinito)));
    };
    auto fallimento = [this] { return erroreImpostazionePorta(); };

    mbus_.ApriPorta(false);
    Profilo p;
    p.com = valore("COM", "*");
    if (p.com == "*" || p.com.empty()) return fallimento();
    p.settings = valore("Settings", "*");
    if (p.settings == "*" || p.settings.empty()) return fallimento();
    auto handshaking = ArrotondaInt16(NumeroIniziale(valore("Handshaking", "0")));
    if (!handshaking) return fallimento();
    p.handshaking = *handshaking >= 0 && *handshaking <= 3 ? *handshaking : 0;
    p.nullDiscard = valore("NullDiscard", "0") == "1";
    p.dtr = valore("DTR", "0") == "1";
    p.rts = valore("RTS", "0") == "1";
    p.timeout = valore("TimeOut", "");
    if (p.timeout.empty()) p.timeout = "800";
    p.retry = valore("Retry", "1");
    if (p.retry.empty() || NumeroIniziale(p.retry) <= 0) p.retry = "1";

    if (!mbus_.ConfiguraPorta(p.com, p.settings, p.handshaking, p.nullDiscard, p.dtr, p.rts))
        return fallimento();
    // Only whole numbers 0 to 10000 pass both checks.
    double timeout = NumeroIniziale(p.timeout);
    auto timeoutIntero = ArrotondaInt32(timeout);
    if (!timeoutIntero || !mbus_.ImpostaTimeOut(*timeoutIntero)) return fallimento();
    if (timeout != mbus_.LeggiTimeOut()) return fallimento();
    double retry = NumeroIniziale(p.retry);
    auto retryIntero = ArrotondaInt32(retry);
    if (!retryIntero || !mbus_.ImpostaRetry(*retryIntero)) return fallimento();
    if (retry != mbus_.LeggiRetry()) return fallimento();
    if (mbus_.LeggiCommPort() != p.com) return fallimento();
    if (Maiuscolo(mbus_.LeggiSettings()) != p.settings) return fallimento();

    stato_.didascaliaMonitor = "Monitor RS232 [Porta COM" + p.com + " attiva]";
    notifica(&MainView::didascaliaMonitorCambiata);
    stato_.statusBar = {"COM " + p.com,
                        p.settings,
                        std::string("Handshaking: ") + TestiHandshaking[p.handshaking],
                        std::string("Null Discard: ") + OnOff(p.nullDiscard),
                        std::string("DTR: ") + OnOff(p.dtr),
                        std::string("RTS: ") + OnOff(p.rts)};
    notifica(&MainView::statusBarCambiata);

    if (!mbus_.ApriPorta(true)) return fallimento();
    p_.clock.sleep(Millis(100));
    return true;
}

}  // namespace tarvel
