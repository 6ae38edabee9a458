#pragma once
// The settings file on a POSIX file system. Every read looks at the file
// again, so an edit made while the program runs is seen at the next read;
// the parsed text is kept while the file's identity (device, inode, size,
// modification and change times) stays the same, so reading many keys
// parses the file once. A write replaces the file in one step.

#include <sys/stat.h>

#include <string>

#include "platform/ProfileStore.h"
#include "settings/IniDocument.h"

namespace tarvel {

class IniFileStore : public ProfileStore {
  public:
    std::string read(const std::string& file, const std::string& section, const std::string& key,
                     const std::string& fallback) override;
    bool write(const std::string& file, const std::string& section, const std::string& key,
               const std::string& value) override;
    void holdVersion(bool hold) override;

  private:
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        struct timespec modified {};
        struct timespec changed {};
        bool operator==(const Identity& other) const;
    };
    enum class FileState { Loaded, Missing, Unreadable };

    // Brings the kept document up to date with the file.
    FileState refresh(const std::string& file);
    FileState check(const std::string& file);
    bool load(const std::string& file);
    static Identity identityOf(const struct stat& st);

    bool valid_ = false;
    // Set while a version is held and the file was checked once since.
    bool held_ = false;
    bool checkedWhileHeld_ = false;
    FileState heldState_ = FileState::Missing;
    std::string path_;
    Identity identity_;
    IniDocument document_;
};

}  // namespace tarvel
