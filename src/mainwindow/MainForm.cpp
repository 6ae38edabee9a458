#include "mainwindow/MainForm.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>

#include "mainwindow/TrendWindow.h"
#include "mainwindow/DeviceStatusWindow.h"
#include "mainwindow/Widgets.h"

namespace tarvel {
namespace {

constexpr int Larghezza = 490;  // 7350 twips
constexpr int Altezza = 380;    // 5700 twips
constexpr int AltezzaStatusBar = 17;

QString Text(const std::string& text) { return QString::fromStdString(text); }

// A field: a label on white background in a sunken frame.
QLabel* Campo(QWidget* area, const char* nome, const QRect& posto) {
    QLabel* label = Etichetta(area, nome, QString(), posto);
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setIndent(2);
    return label;
}

void Sostituisci(QListWidget* lista, const std::vector<std::string>& righe) {
    QStringList testi;
    testi.reserve(static_cast<qsizetype>(righe.size()));
    for (const auto& riga : righe) testi << Text(riga);
    lista->clear();
    lista->addItems(testi);
}

}  // namespace

MainForm::MainForm(Program& programma, const Clock& clock, AcquisitionHost* host)
    : programma_(programma), host_(host), stato_(programma.stato()), clock_(clock) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowIcon(IconaProgramma());
    setFont(FontFinestre());
    setCentralWidget(creaControlli());
    creaMenu();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    AdattaTesti(*this);
    aggiornaTutto();
}

QWidget* MainForm::creaControlli() {
    auto* area = new QWidget(this);
    area->setFixedSize(Larghezza, Altezza);
    Etichetta(area, "Lab_Lista0", QStringLiteral("Elenco chiamate"), Twips(120, 360, 1575, 255));
    lstChiamate_ = Lista(area, "Lst_Chiamate", Twips(120, 600, 3135, 3180));
    Etichetta(area, "Lab_Lista1", QStringLiteral("Elenco risposte"), Twips(3360, 360, 1575, 255));
    lstRisposte_ = Lista(area, "Lst_Risposte", Twips(3360, 600, 3855, 3180));
    connect(lstChiamate_, &QListWidget::currentRowChanged, this,
            [this](int riga) { Lst_Chiamate_Click(riga); });

    auto* linea = new DoubleLine(area);
    linea->setObjectName(QStringLiteral("Lin_Elenco"));
    linea->setGeometry(Px(120), Px(3950), Px(7200) - Px(120), 2);

    creaDettagli(area);

    for (int i = 0; i < 3; ++i) {
        const QByteArray nome = "Img_Lettura" + QByteArray::number(i);
        lampade_[i] = Etichetta(area, nome.constData(), QString(), Twips(6800, 50, 480, 480));
        lampade_[i]->setPixmap(DisegnaLampada(ColoreLampada(LampadeAccese[i])));
        lampade_[i]->hide();
    }

    avvisoRicarica_ =
        Etichetta(area, "Lab_ImpostazioniRicaricate", QStringLiteral("Impostazioni ricaricate"),
                  Twips(120, 50, 1815, 285));
    avvisoRicarica_->setAlignment(Qt::AlignCenter);
    avvisoRicarica_->setAutoFillBackground(true);
    QPalette palette = avvisoRicarica_->palette();
    palette.setColor(QPalette::Window, QColor(192, 64, 0));
    palette.setColor(QPalette::WindowText, Qt::white);
    avvisoRicarica_->setPalette(palette);
    avvisoRicarica_->hide();

    creaStatusBar(area);
    return area;
}

void MainForm::creaDettagli(QWidget* area) {
    struct Column {
        const char* titolo;
        const char* campo;
        int left, width;
    };
    static constexpr Column colonne[] = {{"Nodo", "LabNodo", 120, 735},
                                          {"Codice", "LabCodice", 960, 735},
                                          {"Registro", "LabParametro", 1800, 975},
                                          {"Decimali", "LabDecimali", 2880, 975},
                                          {"Descrizione", "LabDescrizione", 3960, 2760}};
    for (int i = 0; i < 5; ++i) {
        const Column& c = colonne[i];
        const QByteArray nome = "Lab_Lista" + QByteArray::number(i + 2);
        Etichetta(area, nome.constData(), QString::fromLatin1(c.titolo),
                  Twips(c.left, 4080, c.width, 255));
        dettagli_[i] = Campo(area, c.campo, Twips(c.left, 4440, c.width, 255));
    }
    cmdLeggi_ = new QPushButton(QStringLiteral("..."), area);
    cmdLeggi_->setObjectName(QStringLiteral("Cmd_Leggi"));
    cmdLeggi_->setGeometry(Twips(6840, 4440, 400, 255));
    connect(cmdLeggi_, &QPushButton::clicked, this,
            [this] { comando([](Program& p) { p.Cmd_Leggi_Click(); }); });

    Etichetta(area, "Lab_Lista7", QStringLiteral("Risultato"), Twips(120, 4920, 1095, 255));
    labRisultato_ = Campo(area, "LabRisultato", Twips(120, 5160, 7095, 255));
}

void MainForm::creaStatusBar(QWidget* area) {
    static constexpr int larghezze[6] = {46, 84, 134, 96, 65, 65};
    auto* barra = new QWidget(area);
    barra->setObjectName(QStringLiteral("StatusBar"));
    barra->setGeometry(0, Altezza - AltezzaStatusBar, Larghezza, AltezzaStatusBar);
    int x = 0;
    for (int i = 0; i < 6; ++i) {
        pannelli_[i] = new QLabel(barra);
        pannelli_[i]->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        pannelli_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        pannelli_[i]->setIndent(2);
        pannelli_[i]->setGeometry(x, 0, larghezze[i] - 1, AltezzaStatusBar);
        x += larghezze[i];
    }
}

QAction* MainForm::voce(QMenu* menu, const char* nome, const QString& testo,
                        std::function<void()> comando, bool spunta) {
    QAction* azione = menu->addAction(testo);
    azione->setObjectName(QString::fromLatin1(nome));
    azione->setCheckable(spunta);
    connect(azione, &QAction::triggered, this, [this, comando = std::move(comando)] {
        comando();
        opzioniCambiate();  // the core decides the check marks, not the click
    });
    return azione;
}

void MainForm::creaMenu() {
    creaMenuFile();
    creaMenuAcquisizione();
    creaMenuOpzioni();
    QMenu* about = menuBar()->addMenu(QStringLiteral("&?"));
    about->setObjectName(QStringLiteral("MenuAbout0"));
    voce(about, "MenuAbout", QStringLiteral("Informazioni su..."),
         [this] { emit aboutRichiesto(); });
}

void MainForm::creaMenuFile() {
    menuFile_ = menuBar()->addMenu(QStringLiteral("&File"));
    menuFile_->setObjectName(QStringLiteral("MenuFile"));
    voce(menuFile_, "MenuEdita", QStringLiteral("Edita impostazioni"),
         [this] { emit modificaIniRichiesta(); });
    voce(menuFile_, "MenuRicarica", QStringLiteral("Ricarica impostazioni"),
         [this] { emit ricaricaRichiesta(); });
    menuFile_->addSeparator()->setObjectName(QStringLiteral("MenuNull"));
    voce(menuFile_, "MenuFine", QStringLiteral("Fine Programma"), [this] { emit fineRichiesta(); });
}

void MainForm::creaMenuAcquisizione() {
    menuAcquisisci_ = menuBar()->addMenu(QStringLiteral("&Acquisizione"));
    menuAcquisisci_->setObjectName(QStringLiteral("MenuAcquisisci"));
    QMenu* m = menuAcquisisci_;
    menuAcquisisciAuto_ = voce(
        m, "MenuAcquisisciAuto", QStringLiteral("Automatica"),
        [this] { comando([](Program& p) { p.MenuAcquisisciAuto_Click(); }); }, true);
    m->addSeparator()->setObjectName(QStringLiteral("MenuNull0"));
    voce(m, "MenuAvvio", QStringLiteral("Avvia acquisizione"),
         [this] { comando([](Program& p) { p.MenuAvvio_Click(); }); });
    // The running cycle sees the stop at its next test, while its request
    // runs on; the rest of the command follows on the core's thread.
    voce(m, "MenuFerma", QStringLiteral("Ferma acquisizione"), [this] {
        programma_.FermaCiclo();
        comando([](Program& p) { p.MenuFerma_Click(); });
    });
    m->addSeparator()->setObjectName(QStringLiteral("MenuNull1"));
    voce(m, "MenuNomeFileOut", QStringLiteral("Definizione file di uscita (generale) ..."),
         [this] { comando([](Program& p) { p.MenuNomeFileOut_Click(); }); });
    menuKillfileOut_ = voce(
        m, "MenuKillfileOut", QStringLiteral("Cancella i file di uscita prima di aggiornare"),
        [this] { comando([](Program& p) { p.MenuKillfileOut_Click(); }); }, true);
    m->addSeparator()->setObjectName(QStringLiteral("MenuNull2"));
    voce(m, "MenuMonitor", QStringLiteral("Monitor RS232"), [this] { emit monitorRichiesto(); });
    voce(m, "MenuStatoDispositivi", QStringLiteral("Stato dispositivi"),
         [this] { MenuStatoDispositivi_Click(); });
    menuGrafico_ =
        voce(m, "MenuGrafico", QStringLiteral("Grafico"), [this] { MenuGrafico_Click(); });
}

void MainForm::creaMenuOpzioni() {
    menuOpzioni_ = menuBar()->addMenu(QStringLiteral("&Opzioni"));
    menuOpzioni_->setObjectName(QStringLiteral("MenuOpzioni"));
    QMenu* m = menuOpzioni_;
    menuAvvioAuto_ = voce(
        m, "MenuAvvioAuto", QStringLiteral("Avvio Automatico"),
        [this] { emit avvioAutoRichiesto(); }, true);
    m->addSeparator()->setObjectName(QStringLiteral("MenuNullOpt0"));
    menuMinimizzaPartenza_ = voce(
        m, "MenuMinimizzaPartenza", QStringLiteral("Avvio ridotto ad icona"),
        [this] { comando([](Program& p) { p.MenuMinimizzaPartenza_Click(); }); }, true);
    m->addSeparator()->setObjectName(QStringLiteral("MenuNullOpt1"));
    voce(m, "MenuCreaCollegamento", QStringLiteral("Crea collegamento sul desktop"),
         [this] { emit creaCollegamentoRichiesto(); });
    voce(m, "MenuEliminaCollegamento", QStringLiteral("Elimina collegamento dal desktop"),
         [this] { emit eliminaCollegamentoRichiesto(); });
    m->addSeparator()->setObjectName(QStringLiteral("MenuNullOpt2"));
    voce(m, "MenuTitoloGenerale", QStringLiteral("Titolo generale"),
         [this] { comando([](Program& p) { p.MenuTitoloGenerale_Click(); }); });
    voce(m, "MenuEncodingXML", QStringLiteral("Encoding XML"),
         [this] { comando([](Program& p) { p.MenuEncodingXML_Click(); }); });
}

void MainForm::aggiornaTutto() {
    didascaliaCambiata();
    chiamateCambiate();
    risposteCambiate();
    dettagliCambiati();
    opzioniCambiate();
    lampadaCambiata();
    acquisizioneCambiata();
    statusBarCambiata();
}

void MainForm::comando(std::function<void(Program&)> azione) {
    if (!host_) {
        azione(programma_);
        return;
    }
    host_->post([this, azione = std::move(azione)] { azione(programma_); });
}

void MainForm::sullaFinestra(std::function<void()> azione) {
    if (host_)
        host_->toWindow(std::move(azione));
    else
        azione();
}

void MainForm::mostraSalute(const Health& salute, std::vector<std::string> nomi) {
    salute_ = salute;
    nomi_ = std::move(nomi);
}

void MainForm::didascaliaCambiata() { setWindowTitle(Text(stato_.didascalia)); }

void MainForm::chiamateCambiate() {
    aggiornando_ = true;
    Sostituisci(lstChiamate_, stato_.chiamate);
    aggiornando_ = false;
    selezioneCambiata();
}

void MainForm::risposteCambiate() { mostraRisposte(); }

void MainForm::mostraRisposte() {
    // The cycle appends one line at a time; anything else redraws the list.
    const auto& risposte = stato_.risposte;
    const int mostrate = lstRisposte_->count();
    const bool soloAggiunte = static_cast<int>(risposte.size()) >= mostrate &&
                              (mostrate == 0 || lstRisposte_->item(mostrate - 1)->text() ==
                                                    Text(risposte[mostrate - 1]));
    if (!soloAggiunte) {
        Sostituisci(lstRisposte_, risposte);
        return;
    }
    for (std::size_t i = static_cast<std::size_t>(mostrate); i < risposte.size(); ++i)
        lstRisposte_->addItem(Text(risposte[i]));
}

void MainForm::selezioneCambiata() {
    const int riga = stato_.selezione;
    if (lstChiamate_->currentRow() == riga) return;
    aggiornando_ = true;
    lstChiamate_->setCurrentRow(riga);
    aggiornando_ = false;
}

void MainForm::Lst_Chiamate_Click(int riga) {
    if (aggiornando_) return;
    comando([riga](Program& p) { p.SelezionaChiamata(riga); });
}

void MainForm::dettagliCambiati() {
    const Chiamata& c = stato_.chiamata;
    const std::string* campi[] = {&c.Nodo, &c.Codice, &c.Registro, &c.Decimali, &c.Descrizione};
    for (int i = 0; i < 5; ++i) dettagli_[i]->setText(Text(*campi[i]));
    labRisultato_->setText(Text(stato_.risultato));
}

void MainForm::opzioniCambiate() {
    const MainState& s = stato_;
    menuAcquisisciAuto_->setChecked(s.acquisisciAuto);
    menuMinimizzaPartenza_->setChecked(s.minimizzaPartenza);
    menuKillfileOut_->setChecked(s.killFileOut);
    menuAvvioAuto_->setChecked(spuntaAvvioAuto_);
    menuGrafico_->setEnabled(s.storicoAttivo);
}

void MainForm::impostaSpuntaAvvioAuto(bool spunta) {
    spuntaAvvioAuto_ = spunta;
    menuAvvioAuto_->setChecked(spunta);
}

void MainForm::lampadaCambiata() {
    const Lamp lampada = stato_.lampada;
    for (int i = 0; i < 3; ++i) lampade_[i]->setVisible(lampada == LampadeAccese[i]);
}

void MainForm::acquisizioneCambiata() {
    const MainState& s = stato_;
    menuOpzioni_->menuAction()->setEnabled(!s.acquisizioneAttiva);
    menuFile_->menuAction()->setEnabled(!s.acquisizioneAttiva);
    menuAcquisisciAuto_->setEnabled(!s.acquisizioneAttiva);
    lstChiamate_->setEnabled(s.listeAbilitate);
    lstRisposte_->setEnabled(s.listeAbilitate);
    cmdLeggi_->setEnabled(!s.cicloInCorso);
}

void MainForm::statusBarCambiata() {
    for (int i = 0; i < 6; ++i) pannelli_[i]->setText(Text(stato_.statusBar[i]));
}

void MainForm::didascaliaMonitorCambiata() { emit didascaliaMonitorDaAggiornare(); }
void MainForm::nascondiSplash() { emit splashDaNascondere(); }
void MainForm::riduciInTray(bool riduci) { emit riduzioneRichiesta(riduci); }

// One window, made when first asked for; asking again raises it.
void MainForm::MenuStatoDispositivi_Click() {
    if (!statoDispositivi_) statoDispositivi_ = new DeviceStatusWindow(salute_, clock_, this);
    statoDispositivi_->mostra();
}

// A hidden window catches up when it is shown.
void MainForm::aggiornaStatoDispositivi() {
    if (statoDispositivi_ && statoDispositivi_->isVisible()) statoDispositivi_->aggiorna();
}

// One window, made when first asked for, with the names of the list.
void MainForm::MenuGrafico_Click() {
    if (!grafico_)
        grafico_ = new TrendWindow(
            [this](const std::string& nome, std::chrono::seconds durata,
                   std::function<void(const std::vector<HistoryPoint>&)> risposta) {
                comando([this, nome, durata, risposta = std::move(risposta)](Program& p) {
                    sullaFinestra(
                        [risposta, punti = p.storico().Curva(nome, durata)] { risposta(punti); });
                });
            },
            this);
    grafico_->impostaNomi(nomi_);
    grafico_->mostra();
}

void MainForm::impostazioniRicaricate() {
    aggiornaStatoDispositivi();
    if (grafico_) grafico_->impostaNomi(nomi_);
}

void MainForm::cicloTerminato(const CycleReport& /*rapporto*/) {
    aggiornaStatoDispositivi();
    if (grafico_ && grafico_->isVisible()) grafico_->aggiorna();
}

void MainForm::mostraAvvisoRicarica(bool visibile) {
    avvisoRicarica_->setVisible(visibile);
    avvisoRicarica_->repaint();
}

void MainForm::closeEvent(QCloseEvent* event) {
    // The window never closes by itself: the program decides what a close
    // request means.
    event->ignore();
    emit chiusuraRichiesta();
}

void MainForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) cmdLeggi_->setFocus();
}

}  // namespace tarvel
