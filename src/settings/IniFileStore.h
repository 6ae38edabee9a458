#pragma once
// The settings file as a profile store. Every read looks at the file again,
// so an edit made while the program runs is seen at the next read; the
// parsed text is kept while the file's identity stays the same, so reading
// many keys parses the file once. A write changes the one value and keeps
// every other byte, and replaces the file in one step.

#include <string>

#include "platform/TextFiles.h"
#include "settings/IniDocument.h"
#include "settings/ProfileStore.h"

namespace tarvel {

class IniFileStore : public ProfileStore {
  public:
    // The files must outlive the store.
    explicit IniFileStore(TextFiles& files) : files_(files) {}

    std::string read(const std::string& file, const std::string& section, const std::string& key,
                     const std::string& fallback) override;
    bool write(const std::string& file, const std::string& section, const std::string& key,
               const std::string& value) override;
    std::vector<std::string> keys(const std::string& file, const std::string& section) override;
    void holdVersion(bool hold) override;
    SettingsError fileProblem(const std::string& file) override;

  private:
    // Utf16: read, but a UTF-16 text, which gives no key and is never
    // written into.
    enum class FileState { Loaded, Missing, Folder, Unreadable, Utf16 };

    // Brings the kept document up to date with the file.
    FileState refresh(const std::string& file);
    FileState check(const std::string& file);
    FileState load(const std::string& file);
    FileState stateOf(const FileLookup& found);

    TextFiles& files_;
    bool valid_ = false;
    FileState loadedState_ = FileState::Loaded;  // of the kept document
    // Set while a version is held and the file was checked once since.
    bool held_ = false;
    bool checkedWhileHeld_ = false;
    FileState heldState_ = FileState::Missing;
    // The system's reason when the file could not be read.
    std::string reason_;
    std::string path_;
    FileIdentity identity_;
    IniDocument document_;
};

}  // namespace tarvel
