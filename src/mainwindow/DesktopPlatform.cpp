#include "mainwindow/DesktopPlatform.h"

namespace tarvel {

// COM n is the device of key "COM" + n in section "Ports" of the settings.
DesktopPlatform::DesktopPlatform(const std::string& programFolder)
    : identity(programFolder),
      port(ComDeviceFromSettings(ini, identity.programFolder() + "/" + IniFileName,
                                 DefaultComDevice)),
      workers(ComDeviceFromSettings(ini, identity.programFolder() + "/" + IniFileName,
                                    DefaultComDevice),
              clock) {
    // An output path that names the settings file would destroy the list.
    files.protect(identity.programFolder() + "/" + IniFileName);
    // The wake-up comes only at the end: a sleep then ends too.
    clock.watch(wakeUp.fd(), [this] {
        wakeUp.drain();
        return true;
    });
    port.watchAlso(wakeUp.fd(), [this] { wakeUp.drain(); });
}

}  // namespace tarvel
