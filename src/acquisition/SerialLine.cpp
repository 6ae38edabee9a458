#include "acquisition/SerialLine.h"

namespace tarvel {

SerialLine::SerialLine(MBus& mbus, Clock& clock, Dialogs& dialogs, IniReader leggiIni,
                       CycleObserver& observer)
    : mbus_(mbus),
      clock_(clock),
      dialogs_(dialogs),
      leggiIni_(std::move(leggiIni)),
      observer_(observer) {}

void SerialLine::PredefinitiModbus() {
    mbus_.PredefinitiModbus();
    active_ = {};
}

bool SerialLine::refuse(const std::string& section, ProfileError error) {
    error_ = std::move(error);
    section_ = section;
    observer_.lineRefused();
    dialogs_.messageBox(caption_, "Errore nell'impostazione della porta seriale.",
                        Icon::Exclamation, Buttons::Ok, Answer::Ok,
                        DescriviErroreProfilo(section, error_));
    return false;
}

bool SerialLine::ImpostaPortaSeriale(std::int16_t n) {
    const std::string section = "Serial_" + std::to_string(n);
    mbus_.ApriPorta(false);
    ProfileRead lettura = LeggiProfilo([&](const char* chiave, const char* predefinito) {
        return leggiIni_(section, chiave, predefinito);
    });
    if (!lettura.profilo) return refuse(section, std::move(lettura.errore));
    const SerialProfile& profilo = *lettura.profilo;
    if (ProfileError e = ConfiguraProfilo(mbus_, profilo); e.causa != ProfileErrorCause::None)
        return refuse(section, std::move(e));

    observer_.lineShown("Monitor RS232 [Porta COM" + profilo.com + " attiva]",
                        PannelliProfilo(profilo, mbus_.LeggiRete()));
    if (!mbus_.ApriPorta(true))
        return refuse(section, {ProfileErrorCause::PortNotOpened, "COM", profilo.com,
                                mbus_.errorePorta(), mbus_.erroreApertura()});
    error_ = {};
    section_ = section;
    active_ = profilo;
    clock_.sleep(Millis(100));
    return true;
}

bool SerialLine::applyLine(std::optional<std::int16_t> profilo, const std::string& lineText) {
    if (!profilo) return refuse({}, {ProfileErrorCause::OutOfRange, {}, lineText, {}, {}});
    return ImpostaPortaSeriale(*profilo);
}

}  // namespace tarvel
