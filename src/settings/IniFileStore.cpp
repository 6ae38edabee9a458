#include "settings/IniFileStore.h"

#include <utility>

#include "settings/Number.h"

namespace tarvel {
namespace {

// A byte order mark, or text whose first character has a zero byte beside
// it: what editors write when asked for "Unicode".
bool LooksLikeUtf16(std::string_view bytes) {
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) return true;
    return bytes.size() >= 2 && (bytes[0] == '\0') != (bytes[1] == '\0');
}

}  // namespace

void IniFileStore::holdVersion(bool hold) {
    held_ = hold;
    checkedWhileHeld_ = false;
}

IniFileStore::FileState IniFileStore::refresh(const std::string& file) {
    if (held_ && checkedWhileHeld_ && path_ == file) return heldState_;
    FileState state = check(file);
    if (held_) {
        checkedWhileHeld_ = true;
        heldState_ = state;
        path_ = file;
    }
    return state;
}

IniFileStore::FileState IniFileStore::check(const std::string& file) {
    const FileLookup found = files_.identify(file);
    if (found.kind == FileKind::Present) {
        if (valid_ && path_ == file && identity_ == found.identity) return loadedState_;
        return load(file);
    }
    valid_ = false;
    return stateOf(found);
}

IniFileStore::FileState IniFileStore::stateOf(const FileLookup& found) {
    reason_ = found.systemError;
    switch (found.kind) {
        case FileKind::Present:
            return FileState::Loaded;
        case FileKind::Missing:
            return FileState::Missing;
        case FileKind::Folder:
            return FileState::Folder;
        case FileKind::Unreadable:
            break;
    }
    return FileState::Unreadable;
}

IniFileStore::FileState IniFileStore::load(const std::string& file) {
    valid_ = false;
    std::string bytes;
    const FileLookup found = files_.read(file, bytes);
    if (found.kind != FileKind::Present) return stateOf(found);
    loadedState_ = LooksLikeUtf16(bytes) ? FileState::Utf16 : FileState::Loaded;
    document_ = IniDocument(loadedState_ == FileState::Loaded ? std::move(bytes) : std::string());
    identity_ = found.identity;
    path_ = file;
    valid_ = true;
    return loadedState_;
}

SettingsError IniFileStore::fileProblem(const std::string& file) {
    SettingsError e;
    e.path = file;
    switch (refresh(file)) {
        case FileState::Loaded:
            break;
        case FileState::Missing:
            e.cause = SettingsErrorCause::FileMissing;
            break;
        case FileState::Folder:
            e.cause = SettingsErrorCause::Folder;
            break;
        case FileState::Unreadable:
            e.cause = SettingsErrorCause::Unreadable;
            e.reason = reason_;
            break;
        case FileState::Utf16:
            e.cause = SettingsErrorCause::Utf16;
            break;
    }
    return e;
}

std::string IniFileStore::read(const std::string& file, const std::string& section,
                               const std::string& key, const std::string& fallback) {
    if (refresh(file) == FileState::Loaded) return document_.get(section, key, fallback);
    return IniDocument().get(section, key, fallback);
}

std::vector<std::string> IniFileStore::keys(const std::string& file, const std::string& section) {
    std::vector<std::string> names;
    if (refresh(file) != FileState::Loaded) return names;
    const std::string wanted = ToUpper(section);
    document_.forEach([&](std::string_view s, std::string_view key, std::string_view) {
        if (ToUpper(s) == wanted) names.emplace_back(key);
    });
    return names;
}

bool IniFileStore::write(const std::string& file, const std::string& section,
                         const std::string& key, const std::string& value) {
    switch (refresh(file)) {
        case FileState::Loaded:
            break;
        case FileState::Missing:
            document_ = IniDocument();
            break;
        // A file that exists but cannot be read is not overwritten, nor a
        // UTF-16 one, which a value in 8-bit text would damage.
        case FileState::Folder:
        case FileState::Unreadable:
        case FileState::Utf16:
            return false;
    }
    valid_ = false;
    checkedWhileHeld_ = false;
    if (!document_.set(section, key, value)) return false;
    const FileWrite outcome = files_.write(file, document_.bytes());
    if (!outcome.written) return false;
    // Keep the new text when the file now in place is the one just written.
    if (outcome.identity) {
        identity_ = *outcome.identity;
        path_ = file;
        loadedState_ = FileState::Loaded;
        valid_ = true;
    }
    return true;
}

}  // namespace tarvel
