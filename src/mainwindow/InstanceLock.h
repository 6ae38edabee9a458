#pragma once
// The single-instance mark: a lock file in the user's runtime folder, held
// from the start-up to the end of the program. A lock left by a program that
// died is taken over.

#include <QLockFile>
#include <QString>

#include "app/Startup.h"

namespace tarvel {

class InstanceLock : public ProgramInstance {
  public:
    explicit InstanceLock(const QString& path = DefaultPath());

    bool acquire() override;
    void release();

    // "Tarvel.lock" in the user's runtime folder.
    static QString DefaultPath();

  private:
    QLockFile lock_;
};

}  // namespace tarvel
