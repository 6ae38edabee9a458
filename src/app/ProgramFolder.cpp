#include "app/ProgramFolder.h"

#include "Product.h"

namespace tarvel {

std::string ProgramFolder::iniPath() const { return folder + "/" + IniFileName; }

ProgramFolder FindProgramFolder(TextFiles& files, UserFolders& cartelle,
                                         const std::string& cartellaEseguibile,
                                         const std::string& esempio, bool crea) {
    using Result = ProgramFolder::Result;
    if (files.identify(cartellaEseguibile + "/" + IniFileName).kind != FileKind::Missing)
        return {Result::Found, cartellaEseguibile, {}};
    const std::string casa = cartelle.configHome();
    if (casa.empty()) return {Result::Error, "~/.config/tarvel", "HOME is not set"};
    ProgramFolder trovata{Result::Found, casa + "/tarvel", {}};
    if (!crea || files.identify(trovata.iniPath()).kind != FileKind::Missing) return trovata;

    trovata.result = Result::Error;
    std::string text;
    if (FileLookup letto = files.read(esempio, text); letto.kind != FileKind::Present) {
        trovata.error = letto.reason.empty() ? esempio + ": not a file" : letto.reason;
        return trovata;
    }
    if (!cartelle.createFolder(trovata.folder, trovata.error)) return trovata;
    if (FileWrite scritto = files.write(trovata.iniPath(), text); !scritto.written) {
        trovata.error = scritto.error;
        return trovata;
    }
    trovata.result = Result::Created;
    return trovata;
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
