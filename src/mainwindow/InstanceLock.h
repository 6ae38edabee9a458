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
    explicit InstanceLock(const QString& percorso = PercorsoPredefinito());

    bool acquisisci() override;
    void rilascia();

    // "Tarvel.lock" in the user's runtime folder.
    static QString PercorsoPredefinito();

  private:
    QLockFile lock_;
};

}  // namespace tarvel
