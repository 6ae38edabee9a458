#include "mainwindow/InstanceLock.h"

#include <QDir>
#include <QStandardPaths>

namespace tarvel {

InstanceLock::InstanceLock(const QString& path) : lock_(path) {
    // Only a lock whose program is gone is stale, however old it is.
    lock_.setStaleLockTime(0);
}

bool InstanceLock::acquire() { return lock_.isLocked() || lock_.tryLock(0); }

void InstanceLock::release() { lock_.unlock(); }

QString InstanceLock::DefaultPath() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) folder = QDir::tempPath();
    return QDir(folder).filePath(QStringLiteral("Tarvel.lock"));
}

}  // namespace tarvel
