#pragma once
// The serial line of the acquisition: applies a profile of the settings to
// the master, keeps the one in force and why the last one failed, and tells
// the user when one cannot be applied.

#include <cstdint>
#include <optional>
#include <string>

#include "acquisition/CycleObserver.h"
#include "export/EsportaXML.h"
#include "modbus/MBus.h"
#include "modbus/SerialProfile.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"

namespace tarvel {

class SerialLine {
  public:
    SerialLine(MBus& mbus, Clock& clock, Dialogs& dialogs, IniReader readIni,
               CycleObserver& observer);

    // Applies profile n, or shows the message and gives false.
    bool ImpostaPortaSeriale(std::int16_t profile);
    // Applies profile n as read already (ReadProfile), or shows the message
    // and gives false.
    bool apply(std::int16_t profile, const ProfileRead& reading);
    // A profile that failed elsewhere (on a port polled in parallel): its
    // message, as if it had failed here.
    bool reportRefusal(const std::string& section, ProfileError error) {
        return refuse(section, std::move(error));
    }
    // A serial line of the request list: its profile, or nothing when the
    // line names no profile number (the message then names `lineText`).
    bool applyLine(std::optional<std::int16_t> profile, const std::string& lineText);
    // The Modbus defaults, with no profile in force.
    void PredefinitiModbus();
    void close() { mbus_.ApriPorta(false); }

    MBus& mbus() { return mbus_; }
    // The profile in force: its pause, Skip, Block and Gap.
    const SerialProfile& profileInUse() const { return active_; }
    // Why the last profile failed (cause None after a success).
    const ProfileError& error() const { return error_; }
    bool refused() const { return error_.cause != ProfileErrorCause::None; }
    // The section of the last profile tried ("Serial_0").
    const std::string& section() const { return section_; }
    // The title of the message: the main window's caption.
    void setCaption(std::string caption) { caption_ = std::move(caption); }

  private:
    bool refuse(const std::string& section, ProfileError error);

    MBus& mbus_;
    Clock& clock_;
    Dialogs& dialogs_;
    IniReader leggiIni_;
    CycleObserver& observer_;
    SerialProfile active_;
    ProfileError error_;
    std::string section_;
    std::string caption_ = "Tarvel";
};

}  // namespace tarvel
