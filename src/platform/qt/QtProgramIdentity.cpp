#include "platform/qt/QtProgramIdentity.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSysInfo>

namespace tarvel {

QtProgramIdentity::QtProgramIdentity(std::string folder) : folder_(std::move(folder)) {}

std::string QtProgramIdentity::programFolder() const {
    if (!folder_.empty()) return folder_;
    return QCoreApplication::applicationDirPath().toStdString();
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
