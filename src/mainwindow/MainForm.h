#pragma once
// The main window: the request and answer lists, the fields of the request,
// the result, the status lamp, the status bar and the menus. It shows the
// core's state and forwards every command; the work is elsewhere. With a
// host the core lives on the logic's thread: the window keeps the copies it
// is sent (the state, the devices' health, the names of the reads) and
// posts its commands there.

#include <QMainWindow>
#include <array>
#include <functional>

#include "app/MainView.h"
#include "app/Program.h"
#include "mainwindow/AcquisitionHost.h"

class QAction;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;

namespace tarvel {

class TrendWindow;
class DeviceStatusWindow;

class MainForm : public QMainWindow, public MainView {
    Q_OBJECT

  public:
    // The clock is the program's: the device window turns its times into
    // wall-clock times.
    // Without a host the core is on the window's thread.
    MainForm(Program& programma, const Clock& clock, AcquisitionHost* host = nullptr);

    // The copies the core sends before each notification.
    void mostra(const MainState& stato) { stato_ = stato; }
    void mostraSalute(const Health& salute, std::vector<std::string> nomi);
    const MainState& stato() const { return stato_; }

    // What the core reports.
    void didascaliaCambiata() override;
    void chiamateCambiate() override;
    void risposteCambiate() override;
    void selezioneCambiata() override;
    void dettagliCambiati() override;
    void opzioniCambiate() override;
    void lampadaCambiata() override;
    void acquisizioneCambiata() override;
    void statusBarCambiata() override;
    void didascaliaMonitorCambiata() override;
    void nascondiSplash() override;
    void riduciInTray(bool riduci) override;
    void impostazioniRicaricate() override;
    void cicloTerminato(const CycleReport& rapporto) override;

    void impostaSpuntaAvvioAuto(bool spunta);
    void mostraAvvisoRicarica(bool visibile);
    // Shows the whole state at once.
    void aggiornaTutto();

  signals:
    void modificaIniRichiesta();
    void ricaricaRichiesta();
    void fineRichiesta();
    void monitorRichiesto();
    void avvioAutoRichiesto();
    void creaCollegamentoRichiesto();
    void eliminaCollegamentoRichiesto();
    void aboutRichiesto();
    void chiusuraRichiesta();
    void riduzioneRichiesta(bool riduci);
    void splashDaNascondere();
    void didascaliaMonitorDaAggiornare();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    QWidget* creaControlli();
    void creaDettagli(QWidget* area);
    void creaStatusBar(QWidget* area);
    void creaMenu();
    void creaMenuFile();
    void creaMenuAcquisizione();
    void creaMenuOpzioni();
    QAction* voce(QMenu* menu, const char* nome, const QString& testo,
                  std::function<void()> comando, bool spunta = false);
    void Lst_Chiamate_Click(int riga);
    void mostraRisposte();
    void MenuStatoDispositivi_Click();
    void aggiornaStatoDispositivi();
    void MenuGrafico_Click();
    // Runs a command on the core, on its thread.
    void comando(std::function<void(Program&)> azione);
    // Runs on the window's thread, from the core's.
    void sullaFinestra(std::function<void()> azione);

    Program& programma_;
    AcquisitionHost* host_;
    MainState stato_;
    Health salute_;
    std::vector<std::string> nomi_;
    const Clock& clock_;
    QListWidget* lstChiamate_ = nullptr;
    QListWidget* lstRisposte_ = nullptr;
    std::array<QLabel*, 5> dettagli_{};
    QLabel* labRisultato_ = nullptr;
    QPushButton* cmdLeggi_ = nullptr;
    std::array<QLabel*, 3> lampade_{};
    QLabel* avvisoRicarica_ = nullptr;
    std::array<QLabel*, 6> pannelli_{};
    QMenu* menuFile_ = nullptr;
    QMenu* menuAcquisisci_ = nullptr;
    QMenu* menuOpzioni_ = nullptr;
    QAction* menuAcquisisciAuto_ = nullptr;
    QAction* menuKillfileOut_ = nullptr;
    QAction* menuAvvioAuto_ = nullptr;
    QAction* menuMinimizzaPartenza_ = nullptr;
    QAction* menuGrafico_ = nullptr;
    DeviceStatusWindow* statoDispositivi_ = nullptr;  // made when first opened
    TrendWindow* grafico_ = nullptr;                    // made when first opened
    bool spuntaAvvioAuto_ = false;
    bool aggiornando_ = false;
};

}  // namespace tarvel
