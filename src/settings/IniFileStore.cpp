#include "settings/IniFileStore.h"

#include <utility>

namespace tarvel {

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
    switch (found.kind) {
        case FileKind::Present:
            if (valid_ && path_ == file && identity_ == found.identity) return FileState::Loaded;
            return load(file);
        case FileKind::Missing:
            valid_ = false;
            return FileState::Missing;
        case FileKind::Folder:
        case FileKind::Unreadable:
            break;
    }
    valid_ = false;
    return FileState::Unreadable;
}

IniFileStore::FileState IniFileStore::load(const std::string& file) {
    valid_ = false;
    std::string bytes;
    const FileLookup found = files_.read(file, bytes);
    if (found.kind == FileKind::Missing) return FileState::Missing;
    if (found.kind != FileKind::Present) return FileState::Unreadable;
    document_ = IniDocument(std::move(bytes));
    identity_ = found.identity;
    path_ = file;
    valid_ = true;
    return FileState::Loaded;
}

std::string IniFileStore::read(const std::string& file, const std::string& section,
                               const std::string& key, const std::string& fallback) {
    if (refresh(file) == FileState::Loaded) return document_.get(section, key, fallback);
    return IniDocument().get(section, key, fallback);
}

bool IniFileStore::write(const std::string& file, const std::string& section,
                         const std::string& key, const std::string& value) {
    switch (refresh(file)) {
        case FileState::Loaded:
            break;
        case FileState::Missing:
            document_ = IniDocument();
            break;
        // A file that exists but cannot be read is not overwritten.
        case FileState::Unreadable:
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
        valid_ = true;
    }
    return true;
}

}  // namespace tarvel
