#pragma once
// The program's core: the settings, the request list, the Modbus master, the
// acquisition cycle and the output, with the state the main window shows.
// Windows and the headless runner drive it through these commands and learn
// of changes through MainView.

#include <memory>
#include <string>

#include "acquisition/MainView.h"
#include "export/EsportaXML.h"
#include "modbus/MBus.h"
#include "platform/Clock.h"
#include "platform/DesktopShell.h"
#include "platform/Dialogs.h"
#include "platform/OutputFiles.h"
#include "settings/ProfileStore.h"
#include "platform/ProgramIdentity.h"
#include "platform/SerialPort.h"

namespace tarvel {

// The platform services the core reaches the outside world through.
struct Piattaforma {
    ProfileStore& ini;
    Clock& clock;
    Dialogs& dialogs;
    ProgramIdentity& identity;
    DesktopShell& shell;
    SerialPort& port;
    OutputFiles& files;
};

inline constexpr const char* NomeProdotto = "Tarvel";
inline constexpr const char* NomeFileIni = "Tarvel.INI";

class Programma {
  public:
    explicit Programma(Piattaforma piattaforma);
    ~Programma();
    Programma(const Programma&) = delete;
    Programma& operator=(const Programma&) = delete;

    void setView(MainView* view);
    const MainState& stato() const { return stato_; }
    MBus& mbus() { return mbus_; }

    // Settings file.
    std::string PercorsoIni() const;
    std::string LeggiIni(const std::string& sezione, const std::string& chiave,
                         const std::string& predefinito);
    bool ScriviIni(const std::string& sezione, const std::string& chiave,
                   const std::string& valore);
    void ModificaIni();
    bool CaricaImpostazioni();
    void PredefinitiModbus();
    void LeggiAcquisizioneAutomatica();
    void SalvaAcquisizioneAutomatica();
    void LeggiAvvioRidotto();
    void SalvaAvvioRidotto();
    void LeggiCancellaFileUscita();
    void SalvaCancellaFileUscita();
    // True when the settings were reloaded; false means they are unusable
    // and the caller asks whether to end the program.
    bool MenuRicarica_Click();

    // Option menus.
    void MenuAcquisisciAuto_Click();
    void MenuMinimizzaPartenza_Click();
    void MenuKillfileOut_Click();
    void MenuNomeFileOut_Click();
    void MenuTitoloGenerale_Click();
    void MenuEncodingXML_Click();

    // Request list.
    bool CaricaParametri();
    // Selects a request line (or none with -1) and cuts it into the detail
    // fields, as a click on the line does.
    void SelezionaChiamata(int indice);
    void Lst_Chiamate_Click();
    void AzzeraDettagli();

    // Serial line.
    bool ImpostaPortaSeriale(std::int16_t profilo);
    // Closes the port, for the end of the program.
    void ChiudiPorta();

    // Request execution and the acquisition cycle.
    void Cmd_Leggi_Click();
    void MenuAvvio_Click();
    void MenuFerma_Click();
    void TmrLettura_Timer();
    void ImpostaLampada(const std::string& colore);
    void AggiornaMenu();
    void AbilitaListe(bool abilita);

    // Writes the output from the answer list.
    EsitoEsportazione Esporta();

    // Marks the start-up as running or finished.
    void setAvvioInCorso(bool inCorso);

  private:
    void notifica(void (MainView::*evento)());
    // The serial set-up's failure: its message, then false.
    bool erroreImpostazionePorta();
    void impostaDettagli(const Chiamata& chiamata);
    void impostaRisultato(const std::string& risultato);
    std::string eseguiLettura(Chiamata& chiamata, double& valore);
    bool chiediTesto(const char* sezione, const char* chiave, const char* primaRiga,
                     const char* suggerimento, const char* titolo, bool chiocciolaAzzera);

    Piattaforma p_;
    MBus mbus_;
    MainState stato_;
    MainView* view_ = nullptr;
    std::unique_ptr<Timer> tmrLettura_;
    long cicli_ = 0;
    int lettureFalliteCiclo_ = 0;
};

}  // namespace tarvel
