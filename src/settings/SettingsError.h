#pragma once
// Why a settings file cannot be used, and the cause in Italian for the
// messages that come with "Settings errate nel file Tarvel.INI".

#include <cstdint>
#include <string>

namespace tarvel {

enum class SettingsErrorCause : std::uint8_t {
    None,
    FileMissing,     // nothing at the path
    Folder,         // the path names a folder
    Unreadable,      // there, but it cannot be read (reason: the system's reason)
    Utf16,            // a UTF-16 text: no key can be read from it
    MissingKey,   // a key that must be there is absent or empty
    InvalidValue,  // a key whose value is out of its range
};

struct SettingsError {
    SettingsErrorCause cause = SettingsErrorCause::None;
    std::string path;  // the settings file's full path
    std::string section;   // the key at fault, when one is
    std::string key;
    std::string value;    // its value as written
    // The system's reason, when it gave one; for InvalidValue, the values
    // the key takes, when they are other than a line number's.
    std::string reason;
};

// One line naming the file, the key when there is one, and the cause.
std::string DescribeSettingsError(const SettingsError& error);

}  // namespace tarvel
