#include "mainwindow/BloccoIstanza.h"

#include <QDir>
#include <QStandardPaths>

namespace tarvel {

BloccoIstanza::BloccoIstanza(const QString& percorso) : lock_(percorso) {
    // Only a lock whose program is gone is stale, however old it is.
    lock_.setStaleLockTime(0);
}

bool BloccoIstanza::acquisisci() { return lock_.isLocked() || lock_.tryLock(0); }

void BloccoIstanza::rilascia() { lock_.unlock(); }

QString BloccoIstanza::PercorsoPredefinito() {
    QString cartella = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (cartella.isEmpty()) cartella = QDir::tempPath();
    return QDir(cartella).filePath(QStringLiteral("Tarvel.lock"));
}

}  // namespace tarvel
