#include "platform/qt/QtProgramIdentity.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>

namespace tarvel {

QtProgramIdentity::QtProgramIdentity(std::string folder) : folder_(std::move(folder)) {}

std::string QtProgramIdentity::programFolder() const {
    if (!folder_.empty()) return folder_;
    return executableFolder();
}

std::string QtProgramIdentity::executableFolder() {
    return QCoreApplication::applicationDirPath().toStdString();
}

std::string QtProgramIdentity::exampleSettings() {
    const QString data = QCoreApplication::applicationDirPath() + QStringLiteral("/") +
                         QStringLiteral(TARVEL_DATA_FROM_BIN);
    return (QDir::cleanPath(data) + QStringLiteral("/") + QString::fromUtf8(IniFileName))
        .toStdString();
}

std::string QtProgramIdentity::templateFolder() {
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/templates");
    if (QFileInfo(beside).isDir()) return beside.toStdString();
    return (QFileInfo(QString::fromStdString(exampleSettings())).path() +
            QStringLiteral("/templates"))
        .toStdString();
}

std::string QtProgramIdentity::executableName() const {
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString();
}

std::string QtProgramIdentity::executablePath() const {
    return QCoreApplication::applicationFilePath().toStdString();
}

std::string QtProgramIdentity::copyright() const {
    return "Tarvel developers - Tutti i diritti riservati";
}

std::string QtProgramIdentity::hostName() const {
    return QSysInfo::machineHostName().toStdString();
}

}  // namespace tarvel
