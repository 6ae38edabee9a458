#include "app/ProgramFolder.h"

#include "Product.h"

namespace tarvel {

std::string ProgramFolder::percorsoIni() const { return cartella + "/" + NomeFileIni; }

ProgramFolder CercaCartellaProgramma(TextFiles& files, UserFolders& cartelle,
                                         const std::string& cartellaEseguibile,
                                         const std::string& esempio, bool crea) {
    using Esito = ProgramFolder::Esito;
    if (files.identify(cartellaEseguibile + "/" + NomeFileIni).kind != FileKind::Missing)
        return {Esito::Found, cartellaEseguibile, {}};
    const std::string casa = cartelle.configHome();
    if (casa.empty()) return {Esito::Error, "~/.config/tarvel", "HOME is not set"};
    ProgramFolder trovata{Esito::Found, casa + "/tarvel", {}};
    if (!crea || files.identify(trovata.percorsoIni()).kind != FileKind::Missing) return trovata;

    trovata.esito = Esito::Error;
    std::string testo;
    if (FileLookup letto = files.read(esempio, testo); letto.kind != FileKind::Present) {
        trovata.errore = letto.reason.empty() ? esempio + ": not a file" : letto.reason;
        return trovata;
    }
    if (!cartelle.createFolder(trovata.cartella, trovata.errore)) return trovata;
    if (FileWrite scritto = files.write(trovata.percorsoIni(), testo); !scritto.written) {
        trovata.errore = scritto.error;
        return trovata;
    }
    trovata.esito = Esito::Created;
    return trovata;
}

bool AnnunciaCartella(const ProgramFolder& c, Dialogs& dialogs, DesktopShell* shell) {
    switch (c.esito) {
        case ProgramFolder::Esito::Found:
            return true;
        case ProgramFolder::Esito::Created:
            dialogs.messageBox(NomeProdotto,
                               "Creato il file delle impostazioni " + c.percorsoIni() +
                                   " dall'esempio installato.\nImpostare la porta seriale "
                                   "(sezione [Ports], chiave COM1) e avviare di nuovo il "
                                   "programma.",
                               Icon::Information, Buttons::Ok, Answer::Ok, {});
            if (shell) shell->openInEditor(c.percorsoIni());
            return false;
        case ProgramFolder::Esito::Error:
            dialogs.messageBox(
                NomeProdotto,
                "Impossibile preparare la cartella delle impostazioni " + c.cartella + ".",
                Icon::Critical, Buttons::Ok, Answer::Ok, c.errore);
            return false;
    }
    return false;
}

}  // namespace tarvel
