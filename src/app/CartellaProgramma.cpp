#include "app/CartellaProgramma.h"

#include "Prodotto.h"

namespace tarvel {

std::string CartellaProgramma::percorsoIni() const { return cartella + "/" + NomeFileIni; }

CartellaProgramma CercaCartellaProgramma(TextFiles& files, UserFolders& cartelle,
                                         const std::string& cartellaEseguibile,
                                         const std::string& esempio, bool crea) {
    using Esito = CartellaProgramma::Esito;
    if (files.identify(cartellaEseguibile + "/" + NomeFileIni).kind != FileKind::Missing)
        return {Esito::Trovata, cartellaEseguibile, {}};
    const std::string casa = cartelle.configHome();
    if (casa.empty()) return {Esito::Errore, "~/.config/tarvel", "HOME is not set"};
    CartellaProgramma trovata{Esito::Trovata, casa + "/tarvel", {}};
    if (!crea || files.identify(trovata.percorsoIni()).kind != FileKind::Missing) return trovata;

    trovata.esito = Esito::Errore;
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
    trovata.esito = Esito::Creata;
    return trovata;
}

bool AnnunciaCartella(const CartellaProgramma& c, Dialogs& dialogs, DesktopShell* shell) {
    switch (c.esito) {
        case CartellaProgramma::Esito::Trovata:
            return true;
        case CartellaProgramma::Esito::Creata:
            dialogs.messageBox(NomeProdotto,
                               "Creato il file delle impostazioni " + c.percorsoIni() +
                                   " dall'esempio installato.\nImpostare la porta seriale "
                                   "(sezione [Ports], chiave COM1) e avviare di nuovo il "
                                   "programma.",
                               Icon::Information, Buttons::Ok, Answer::Ok, {});
            if (shell) shell->openInEditor(c.percorsoIni());
            return false;
        case CartellaProgramma::Esito::Errore:
            dialogs.messageBox(
                NomeProdotto,
                "Impossibile preparare la cartella delle impostazioni " + c.cartella + ".",
                Icon::Critical, Buttons::Ok, Answer::Ok, c.errore);
            return false;
    }
    return false;
}

}  // namespace tarvel
