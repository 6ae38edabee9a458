#include "app/ProgramFolder.h"

#include "Product.h"

namespace tarvel {

std::string ProgramFolder::iniPath() const { return folder + "/" + IniFileName; }

ProgramFolder FindProgramFolder(TextFiles& files, UserFolders& folders,
                                         const std::string& exeFolder,
                                         const std::string& example, bool createIfMissing) {
    using Result = ProgramFolder::Result;
    if (files.identify(exeFolder + "/" + IniFileName).kind != FileKind::Missing)
        return {Result::Found, exeFolder, {}};
    const std::string homeDir = folders.configHome();
    if (homeDir.empty()) return {Result::Error, "~/.config/tarvel", "HOME is not set"};
    ProgramFolder found{Result::Found, homeDir + "/tarvel", {}};
    if (!createIfMissing || files.identify(found.iniPath()).kind != FileKind::Missing) return found;

    found.result = Result::Error;
    std::string text;
    if (FileLookup readValue = files.read(example, text); readValue.kind != FileKind::Present) {
        found.error = readValue.reason.empty() ? example + ": not a file" : readValue.reason;
        return found;
    }
    if (!folders.createFolder(found.folder, found.error)) return found;
    if (FileWrite writeResult = files.write(found.iniPath(), text); !writeResult.written) {
        found.error = writeResult.error;
        return found;
    }
    found.result = Result::Created;
    return found;
}

bool AnnounceFolder(const ProgramFolder& c, Dialogs& dialogs, DesktopShell* shell) {
    switch (c.result) {
        case ProgramFolder::Result::Found:
            return true;
        case ProgramFolder::Result::Created:
            dialogs.messageBox(ProductName,
                               "Creato il file delle impostazioni " + c.iniPath() +
                                   " dall'esempio installato.\nImpostare la porta seriale "
                                   "(sezione [Ports], chiave COM1) e avviare di nuovo il "
                                   "programma.",
                               Icon::Information, Buttons::Ok, Answer::Ok, {});
            if (shell) shell->openInEditor(c.iniPath());
            return false;
        case ProgramFolder::Result::Error:
            dialogs.messageBox(
                ProductName,
                "Impossibile preparare la cartella delle impostazioni " + c.folder + ".",
                Icon::Critical, Buttons::Ok, Answer::Ok, c.error);
            return false;
    }
    return false;
}

}  // namespace tarvel
