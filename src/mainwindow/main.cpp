// The desktop program. Everything comes from Tarvel.INI in the program
// folder: the executable's own folder when it holds one, else the user's
// folder (FindProgramFolder). Besides Qt's own options it takes only
// --help and --version.

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Product.h"
#include "app/Startup.h"
#include "app/ProgramFolder.h"
#include "mainwindow/DesktopProgram.h"
#include "platform/posix/PosixTextFiles.h"
#include "platform/posix/PosixUserFolders.h"
#include "platform/posix/SignalPipe.h"
#include "platform/qt/QtProgramIdentity.h"
#include "platform/qtgui/QtDesktopShell.h"
#include "platform/qtgui/QtDialogs.h"
#include "platform/qtgui/QtTranslation.h"

namespace {

const char* const Usage =
    "Usage: Tarvel [--help | --version]\n"
    "\n"
    "The Tarvel Modbus-RTU data logger, with its windows. It reads Tarvel.INI in\n"
    "the program folder: the folder of this executable when it holds a Tarvel.INI,\n"
    "else $XDG_CONFIG_HOME/tarvel (default ~/.config/tarvel). At the first start\n"
    "there, the installed example is copied in and opened in the text editor,\n"
    "and the program ends: set the serial port, then start it again.\n"
    "\n"
    "  --version   print the name and version and exit\n"
    "  --help      this text\n"
    "\n"
    "Qt's own options (such as -platform offscreen) are accepted.\n";

// Qt's options that take a value, as QGuiApplication reads them.
bool qtOptionWithValue(const std::string& arg) {
    for (const char* o : {"-platform", "-platformpluginpath", "-platformtheme", "-plugin",
                          "-qwindowgeometry", "-qwindowtitle", "-qwindowicon", "-display",
                          "-geometry", "-style", "-stylesheet", "-session"})
        if (arg == o) return true;
    return false;
}

bool qtOption(const std::string& arg) {
    for (const char* o : {"-reverse", "-nograb", "-dograb", "-sync", "-widgetcount"})
        if (arg == o) return true;
    return false;
}

// Qt's windowing on X11 (its default here) without a display to reach ends
// the program with an abort; say why instead. The offscreen platform, a
// -platform or -display option, or a Wayland display leave it to Qt.
bool noDisplay(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "-platform" || std::string(argv[i]) == "-display") return false;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const std::string first =
        platform ? std::string(platform).substr(0, std::string(platform).find(';')) : "";
    const auto isSet = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    return (first.empty() || first == "xcb") && !isSet("DISPLAY") &&
           !isSet("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tarvel;
    IgnoreFileSizeSignal();
    // Read before the application object, which needs a display.
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("%s %s\n", ProductName, ProductVersion().c_str());
            return 0;
        }
        if (qtOptionWithValue(arg) && i + 1 < argc) {
            ++i;
        } else if (!qtOption(arg)) {
            std::fprintf(stderr, "Tarvel: opzione sconosciuta: %s\n\n%s", arg.c_str(), Usage);
            return 2;
        }
    }
    if (noDisplay(argc, argv)) {
        std::fputs(
            "Tarvel: nessun display (DISPLAY e WAYLAND_DISPLAY non sono impostate): il programma "
            "con le finestre non può partire; senza finestre usare tarvel-headless\n",
            stderr);
        return 2;
    }
    QApplication app(argc, argv);
    LoadQtTranslation();
    PosixTextFiles files;
    PosixUserFolders folders;
    const ProgramFolder found =
        FindProgramFolder(files, folders, QtProgramIdentity::executableFolder(),
                               QtProgramIdentity::exampleSettings(), true);
    if (found.result != ProgramFolder::Result::Found) {
        QtDialogs dialogs;
        QtDesktopShell shell;
        AnnounceFolder(found, dialogs, &shell);
        return found.result == ProgramFolder::Result::Created ? ExitNormal
                                                                 : ExitStartupFailed;
    }
    DesktopProgram program(found.folder);
    program.app().start();
    return QApplication::exec();
}
