#include "acquisition/SerialLine.h"

namespace tarvel {

SerialLine::SerialLine(MBus& mbus, Clock& clock, Dialogs& dialogs, IniReader readIni,
                       CycleObserver& observer)
    : mbus_(mbus),
      clock_(clock),
      dialogs_(dialogs),
      leggiIni_(std::move(readIni)),
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
                        DescribeProfileError(section, error_));
    return false;
}

bool SerialLine::ImpostaPortaSeriale(std::int16_t n) {
    const std::string section = "Serial_" + std::to_string(n);
    return apply(n, ReadProfile([&](const char* key, const char* fallback) {
        return leggiIni_(section, key, fallback);
    }));
}

bool SerialLine::apply(std::int16_t n, const ProfileRead& reading) {
    const std::string section = "Serial_" + std::to_string(n);
    mbus_.ApriPorta(false);
    if (!reading.profile) return refuse(section, reading.error);
    const SerialProfile& profile = *reading.profile;
    if (ProfileError e = ConfigureProfile(mbus_, profile); e.cause != ProfileErrorCause::None)
        return refuse(section, std::move(e));

    observer_.lineShown("Monitor RS232 [Porta COM" + profile.com + " attiva]",
                        ProfilePanels(profile, mbus_.NetworkText()));
    if (!mbus_.ApriPorta(true))
        return refuse(section, {ProfileErrorCause::PortNotOpened, "COM", profile.com,
                                mbus_.portErrorText(), mbus_.openError()});
    error_ = {};
    section_ = section;
    active_ = profile;
    // A serial line settles after opening; a network connection is made
    // and ready when the opening returns.
    if (mbus_.NetworkText().empty()) clock_.sleep(Millis(100));
    return true;
}

bool SerialLine::applyLine(std::optional<std::int16_t> profile, const std::string& lineText) {
    if (!profile) return refuse({}, {ProfileErrorCause::OutOfRange, {}, lineText, {}, {}});
    return ImpostaPortaSeriale(*profile);
}

}  // namespace tarvel
