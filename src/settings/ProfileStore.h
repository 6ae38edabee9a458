#pragma once
// The settings file: INI sections and keys, read and written one value at a
// time, with the behaviour of the classic profile functions.

#include <string>
#include <vector>

#include "settings/SettingsError.h"

namespace tarvel {

class ProfileStore {
  public:
    virtual ~ProfileStore() = default;
    // The value of section/key in the file; the default when the file, the
    // section or the key is absent. Never fails visibly.
    virtual std::string read(const std::string& file, const std::string& section,
                             const std::string& key, const std::string& fallback) = 0;
    // Writes one value; creates the file, section and key when absent. False
    // when the file could not be written (it is then left as it was).
    virtual bool write(const std::string& file, const std::string& section, const std::string& key,
                       const std::string& value) = 0;
    // The names of a section's keys as the file writes them, in its order:
    // every key a read can see.
    virtual std::vector<std::string> keys(const std::string& file, const std::string& section) {
        (void)file;
        (void)section;
        return {};
    }
    // While held, reads of a file reuse the version that the first of them
    // found instead of checking the file again: one load of many keys reads
    // one version of the file, even when an editor saves it meanwhile.
    virtual void holdVersion(bool hold) { (void)hold; }
    // Why the file gives no keys at all (cause None when it can be read),
    // for the message that comes with a settings file that cannot be used.
    virtual SettingsError fileProblem(const std::string& file) {
        (void)file;
        return {};
    }
};

// Holds the file's version for the life of the object.
class HeldVersion {
  public:
    explicit HeldVersion(ProfileStore& store) : store_(store) { store_.holdVersion(true); }
    ~HeldVersion() { store_.holdVersion(false); }
    HeldVersion(const HeldVersion&) = delete;
    HeldVersion& operator=(const HeldVersion&) = delete;

  private:
    ProfileStore& store_;
};

}  // namespace tarvel
