#include "platform/qtgui/QtDesktopShell.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

namespace tarvel {
namespace {

QString desktopFile(const std::string& folder, const std::string& name) {
    return QDir(QString::fromStdString(folder)).filePath(QString::fromStdString(name) + ".desktop");
}

bool writeFile(const QString& path, const std::string& content) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    const auto written = file.write(content.data(), static_cast<qint64>(content.size()));
    if (written != static_cast<qint64>(content.size())) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool deleteIfExists(const QString& path) {
    if (!QFileInfo::exists(path)) return true;
    return QFile::remove(path);
}

}  // namespace

std::string DesktopStringValue(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string DesktopExecValue(const std::string& executable) {
    std::string quoted = "\"";
    for (char c : executable) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';  // a literal percent sign is doubled
        quoted += c;
    }
    quoted += '"';
    return DesktopStringValue(quoted);
}

std::string DesktopEntryValue(const std::string& content, const std::string& key) {
    bool inEntry = false;
    std::size_t pos = 0;
    while (pos < content.size()) {
        std::size_t end = content.find('\n', pos);
        if (end == std::string::npos) end = content.size();
        std::string line = content.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        const std::size_t eq = line.find('=');
        if (!inEntry || eq == std::string::npos) continue;
        std::string name = line.substr(0, eq);
        while (!name.empty() && name.back() == ' ') name.pop_back();
        if (name != key) continue;
        std::size_t start = eq + 1;
        while (start < line.size() && line[start] == ' ') ++start;
        return line.substr(start);
    }
    return {};
}

std::string QtDesktopShell::autostartFolder() {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(config).filePath(QStringLiteral("autostart")).toStdString();
}

std::string QtDesktopShell::desktopFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation).toStdString();
}

bool QtDesktopShell::openInEditor(const std::string& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

std::string QtDesktopShell::autostartCommand(const std::string& name) {
    QFile file(desktopFile(autostartFolder(), name));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return DesktopEntryValue(file.readAll().toStdString(), "Exec");
}

bool QtDesktopShell::writeAutostart(const std::string& name, const std::string& executable) {
    const QString folder = QString::fromStdString(autostartFolder());
    if (!QDir().mkpath(folder)) return false;
    const std::string content =
        "[Desktop Entry]\nType=Application\nName=" + DesktopStringValue(name) +
        "\nExec=" + DesktopExecValue(executable) +
        "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
    return writeFile(desktopFile(autostartFolder(), name), content);
}

bool QtDesktopShell::removeAutostart(const std::string& name) {
    return deleteIfExists(desktopFile(autostartFolder(), name));
}

bool QtDesktopShell::createDesktopShortcut(const std::string& name, const std::string& executable,
                                           const std::string& workingFolder) {
    const std::string folder = desktopFolder();
    if (folder.empty() || !QFileInfo(QString::fromStdString(folder)).isDir()) return false;
    const std::string content =
        "[Desktop Entry]\nType=Application\nVersion=1.0\nName=" + DesktopStringValue(name) +
        "\nComment=" + DesktopStringValue(name) + "\nExec=" + DesktopExecValue(executable) +
        "\nPath=" + DesktopStringValue(workingFolder) + "\nTerminal=false\n";
    const QString path = desktopFile(folder, name);
    if (!writeFile(path, content)) return false;
    // Desktops offer to start only launcher files that may be executed.
    return QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner |
                                           QFileDevice::ExeGroup | QFileDevice::ExeOther);
}

bool QtDesktopShell::deleteDesktopShortcut(const std::string& name) {
    const std::string folder = desktopFolder();
    if (folder.empty()) return false;
    return deleteIfExists(desktopFile(folder, name));
}

bool QtDesktopShell::openMailLink(const std::string& link) {
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(link)));
}

}  // namespace tarvel
