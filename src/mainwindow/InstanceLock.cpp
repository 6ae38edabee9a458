#include "mainwindow/InstanceLock.h"

#include <QDir>
#include <QStandardPaths>

namespace tarvel {

InstanceLock::InstanceLock(const QString& percorso) : lock_(percorso) {
    // Only a lock whose program is gone is stale, however old it is.
    lock_.setStaleLockTime(0);
}

bool InstanceLock::acquisisci() { return lock_.isLocked() || lock_.tryLock(0); }

void InstanceLock::rilascia() { lock_.unlock(); }

QString InstanceLock::PercorsoPredefinito() {
    QString cartella = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (cartella.isEmpty()) cartella = QDir::tempPath();
    return QDir(cartella).filePath(QStringLiteral("Tarvel.lock"));
}

}  // namespace tarvel
