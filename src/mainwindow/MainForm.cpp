#include "mainwindow/MainForm.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>

#include "app/DeviceSearch.h"
#include "mainwindow/DeviceSearchWindow.h"
#include "mainwindow/DeviceStatusWindow.h"
#include "mainwindow/TrendWindow.h"
#include "mainwindow/Widgets.h"
#include "platform/qt/QtProgramIdentity.h"

namespace tarvel {
namespace {

constexpr int Width = 490;  // 7350 twips
constexpr int Height = 380;    // 5700 twips
constexpr int StatusBarHeight = 17;

QString Text(const std::string& text) { return QString::fromStdString(text); }

// A field: a label on white background in a sunken frame.
QLabel* Field(QWidget* area, const char* name, const QRect& box) {
    QLabel* label = Label(area, name, QString(), box);
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setIndent(2);
    return label;
}

template <typename Lines>
void Replace(QListWidget* listWidget, const Lines& lines) {
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(lines.size()));
    for (const auto& line : lines) texts << Text(line);
    listWidget->clear();
    listWidget->addItems(texts);
}

}  // namespace

MainForm::MainForm(Program& program, const Clock& clock, AcquisitionHost* host)
    : program_(program), host_(host), status_(program.status()), clock_(clock) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowIcon(ProgramIcon());
    setFont(WindowFont());
    setCentralWidget(createControls());
    createMenus();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    FitTexts(*this);
    refreshAll();
}

QWidget* MainForm::createControls() {
    auto* area = new QWidget(this);
    area->setFixedSize(Width, Height);
    Label(area, "Lab_Lista0", QStringLiteral("Elenco chiamate"), Twips(120, 360, 1575, 255));
    lstChiamate_ = List(area, "Lst_Chiamate", Twips(120, 600, 3135, 3180));
    Label(area, "Lab_Lista1", QStringLiteral("Elenco risposte"), Twips(3360, 360, 1575, 255));
    lstRisposte_ = List(area, "Lst_Risposte", Twips(3360, 600, 3855, 3180));
    connect(lstChiamate_, &QListWidget::currentRowChanged, this,
            [this](int line) { Lst_Chiamate_Click(line); });

    auto* linea = new DoubleLine(area);
    linea->setObjectName(QStringLiteral("Lin_Elenco"));
    linea->setGeometry(Px(120), Px(3950), Px(7200) - Px(120), 2);

    createDetails(area);

    for (int i = 0; i < 3; ++i) {
        const QByteArray name = "Img_Lettura" + QByteArray::number(i);
        lamps_[i] = Label(area, name.constData(), QString(), Twips(6800, 50, 480, 480));
        lamps_[i]->setPixmap(DrawLamp(LampColour(LampsLit[i])));
        lamps_[i]->hide();
    }

    reloadNotice_ =
        Label(area, "Lab_ImpostazioniRicaricate", QStringLiteral("Impostazioni ricaricate"),
                  Twips(120, 50, 1815, 285));
    reloadNotice_->setAlignment(Qt::AlignCenter);
    reloadNotice_->setAutoFillBackground(true);
    QPalette palette = reloadNotice_->palette();
    palette.setColor(QPalette::Window, QColor(192, 64, 0));
    palette.setColor(QPalette::WindowText, Qt::white);
    reloadNotice_->setPalette(palette);
    reloadNotice_->hide();

    createStatusBar(area);
    return area;
}

void MainForm::createDetails(QWidget* area) {
    struct Column {
        const char* title;
        const char* field;
        int left, width;
    };
    static constexpr Column cols[] = {{"Nodo", "LabNodo", 120, 735},
                                          {"Codice", "LabCodice", 960, 735},
                                          {"Registro", "LabParametro", 1800, 975},
                                          {"Decimali", "LabDecimali", 2880, 975},
                                          {"Descrizione", "LabDescrizione", 3960, 2760}};
    for (int i = 0; i < 5; ++i) {
        const Column& c = cols[i];
        const QByteArray name = "Lab_Lista" + QByteArray::number(i + 2);
        Label(area, name.constData(), QString::fromLatin1(c.title),
                  Twips(c.left, 4080, c.width, 255));
        details_[i] = Field(area, c.field, Twips(c.left, 4440, c.width, 255));
    }
    cmdLeggi_ = new QPushButton(QStringLiteral("..."), area);
    cmdLeggi_->setObjectName(QStringLiteral("Cmd_Leggi"));
    cmdLeggi_->setGeometry(Twips(6840, 4440, 400, 255));
    connect(cmdLeggi_, &QPushButton::clicked, this,
            [this] { command([](Program& p) { p.Cmd_Leggi_Click(); }); });

    Label(area, "Lab_Lista7", QStringLiteral("Risultato"), Twips(120, 4920, 1095, 255));
    labRisultato_ = Field(area, "LabRisultato", Twips(120, 5160, 7095, 255));
}

void MainForm::createStatusBar(QWidget* area) {
    static constexpr int widths[6] = {46, 84, 134, 96, 65, 65};
    auto* bar = new QWidget(area);
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setGeometry(0, Height - StatusBarHeight, Width, StatusBarHeight);
    int x = 0;
    for (int i = 0; i < 6; ++i) {
        panels_[i] = new QLabel(bar);
        panels_[i]->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        panels_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panels_[i]->setIndent(2);
        panels_[i]->setGeometry(x, 0, widths[i] - 1, StatusBarHeight);
        x += widths[i];
    }
}

QAction* MainForm::menuItem(QMenu* menu, const char* name, const QString& text,
                        std::function<void()> command, bool checked) {
    QAction* action = menu->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    action->setCheckable(checked);
    connect(action, &QAction::triggered, this, [this, command = std::move(command)] {
        command();
        optionsChanged();  // the core decides the check marks, not the click
    });
    return action;
}

void MainForm::createMenus() {
    createFileMenu();
    createAcquisitionMenu();
    createOptionsMenu();
    QMenu* about = menuBar()->addMenu(QStringLiteral("&?"));
    about->setObjectName(QStringLiteral("MenuAbout0"));
    menuItem(about, "MenuAbout", QStringLiteral("Informazioni su..."),
         [this] { emit aboutRequested(); });
}

void MainForm::createFileMenu() {
    menuFile_ = menuBar()->addMenu(QStringLiteral("&File"));
    menuFile_->setObjectName(QStringLiteral("MenuFile"));
    menuItem(menuFile_, "MenuEdita", QStringLiteral("Edita impostazioni"),
         [this] { emit iniEditRequested(); });
    menuItem(menuFile_, "MenuRicarica", QStringLiteral("Ricarica impostazioni"),
         [this] { emit reloadRequested(); });
    menuFile_->addSeparator()->setObjectName(QStringLiteral("MenuNull"));
    menuItem(menuFile_, "MenuFine", QStringLiteral("Fine Programma"), [this] { emit quitRequested(); });
}

void MainForm::createAcquisitionMenu() {
    menuAcquisisci_ = menuBar()->addMenu(QStringLiteral("&Acquisizione"));
    menuAcquisisci_->setObjectName(QStringLiteral("MenuAcquisisci"));
    QMenu* m = menuAcquisisci_;
    menuAcquisisciAuto_ = menuItem(
        m, "MenuAcquisisciAuto", QStringLiteral("Automatica"),
        [this] { command([](Program& p) { p.MenuAcquisisciAuto_Click(); }); }, true);
    m->addSeparator()->setObjectName(QStringLiteral("MenuNull0"));
    menuItem(m, "MenuAvvio", QStringLiteral("Avvia acquisizione"),
         [this] { command([](Program& p) { p.MenuAvvio_Click(); }); });
    // The running cycle sees the stop at its next test, while its request
    // runs on; the rest of the command follows on the core's thread.
    menuItem(m, "MenuFerma", QStringLiteral("Ferma acquisizione"), [this] {
        program_.StopCycle();
        command([](Program& p) { p.MenuFerma_Click(); });
    });
    m->addSeparator()->setObjectName(QStringLiteral("MenuNull1"));
    menuItem(m, "MenuNomeFileOut", QStringLiteral("Definizione file di uscita (generale) ..."),
         [this] { command([](Program& p) { p.MenuNomeFileOut_Click(); }); });
    menuKillfileOut_ = menuItem(
        m, "MenuKillfileOut", QStringLiteral("Cancella i file di uscita prima di aggiornare"),
        [this] { command([](Program& p) { p.MenuKillfileOut_Click(); }); }, true);
    m->addSeparator()->setObjectName(QStringLiteral("MenuNull2"));
    menuItem(m, "MenuMonitor", QStringLiteral("Monitor RS232"), [this] { emit monitorRequested(); });
    menuItem(m, "MenuStatoDispositivi", QStringLiteral("Stato dispositivi"),
         [this] { MenuDeviceStatus_Click(); });
    menuTrend_ =
        menuItem(m, "MenuGrafico", QStringLiteral("Grafico"), [this] { MenuTrend_Click(); });
    m->addSeparator()->setObjectName(QStringLiteral("MenuNull3"));
    menuCercaDispositivi_ =
        menuItem(m, "MenuCercaDispositivi", QStringLiteral("Cerca dispositivi..."),
                 [this] { MenuCercaDispositivi_Click(); });
    m->setToolTipsVisible(true);
}

void MainForm::createOptionsMenu() {
    menuOpzioni_ = menuBar()->addMenu(QStringLiteral("&Opzioni"));
    menuOpzioni_->setObjectName(QStringLiteral("MenuOpzioni"));
    QMenu* m = menuOpzioni_;
    menuAvvioAuto_ = menuItem(
        m, "MenuAvvioAuto", QStringLiteral("Avvio Automatico"),
        [this] { emit autostartRequested(); }, true);
    m->addSeparator()->setObjectName(QStringLiteral("MenuNullOpt0"));
    menuMinimizzaPartenza_ = menuItem(
        m, "MenuMinimizzaPartenza", QStringLiteral("Avvio ridotto ad icona"),
        [this] { command([](Program& p) { p.MenuMinimizzaPartenza_Click(); }); }, true);
    m->addSeparator()->setObjectName(QStringLiteral("MenuNullOpt1"));
    menuItem(m, "MenuCreaCollegamento", QStringLiteral("Crea collegamento sul desktop"),
         [this] { emit createShortcutRequested(); });
    menuItem(m, "MenuEliminaCollegamento", QStringLiteral("Elimina collegamento dal desktop"),
         [this] { emit deleteShortcutRequested(); });
    m->addSeparator()->setObjectName(QStringLiteral("MenuNullOpt2"));
    menuItem(m, "MenuTitoloGenerale", QStringLiteral("Titolo generale"),
         [this] { command([](Program& p) { p.MenuTitoloGenerale_Click(); }); });
    menuItem(m, "MenuEncodingXML", QStringLiteral("Encoding XML"),
         [this] { command([](Program& p) { p.MenuEncodingXML_Click(); }); });
}

void MainForm::refreshAll() {
    captionChanged();
    requestsChanged();
    answersChanged();
    detailsChanged();
    optionsChanged();
    lampChanged();
    acquisitionChanged();
    statusBarChanged();
}

void MainForm::command(std::function<void(Program&)> action) {
    if (!host_) {
        action(program_);
        return;
    }
    host_->post([this, action = std::move(action)] { action(program_); });
}

void MainForm::onWindowThread(std::function<void()> action) {
    if (host_)
        host_->toWindow(std::move(action));
    else
        action();
}

void MainForm::showHealth(const Health& health, std::vector<std::string> names) {
    health_ = health;
    names_ = std::move(names);
}

void MainForm::captionChanged() { setWindowTitle(Text(status_.caption)); }

void MainForm::requestsChanged() {
    updating_ = true;
    Replace(lstChiamate_, *status_.requests);
    updating_ = false;
    selectionChanged();
}

void MainForm::answersChanged() { showAnswers(); }

void MainForm::showAnswers() {
    // The cycle appends one line at a time; anything else redraws the list.
    const AnswerLines& answers = status_.answers;
    const int shown = lstRisposte_->count();
    const bool onlyAdded = static_cast<int>(answers.size()) >= shown &&
                              (shown == 0 || lstRisposte_->item(shown - 1)->text() ==
                                                    Text(answers[shown - 1]));
    if (!onlyAdded) {
        Replace(lstRisposte_, answers);
        return;
    }
    for (std::size_t i = static_cast<std::size_t>(shown); i < answers.size(); ++i)
        lstRisposte_->addItem(Text(answers[i]));
}

void MainForm::selectionChanged() {
    const int line = status_.selection;
    if (lstChiamate_->currentRow() == line) return;
    updating_ = true;
    lstChiamate_->setCurrentRow(line);
    updating_ = false;
}

void MainForm::Lst_Chiamate_Click(int line) {
    if (updating_) return;
    command([line](Program& p) { p.SelectRequest(line); });
}

void MainForm::detailsChanged() {
    const Chiamata& c = status_.request;
    const std::string* fields[] = {&c.Nodo, &c.Codice, &c.Registro, &c.Decimali, &c.Descrizione};
    for (int i = 0; i < 5; ++i) details_[i]->setText(Text(*fields[i]));
    labRisultato_->setText(Text(status_.result));
}

void MainForm::optionsChanged() {
    const MainState& s = status_;
    menuAcquisisciAuto_->setChecked(s.automaticAcquisition);
    menuMinimizzaPartenza_->setChecked(s.startMinimised);
    menuKillfileOut_->setChecked(s.killFileOut);
    menuAvvioAuto_->setChecked(autostartChecked_);
    menuTrend_->setEnabled(s.historyOn);
}

void MainForm::setAutostartChecked(bool checked) {
    autostartChecked_ = checked;
    menuAvvioAuto_->setChecked(checked);
}

void MainForm::lampChanged() {
    const Lamp lamp = status_.lamp;
    for (int i = 0; i < 3; ++i) lamps_[i]->setVisible(lamp == LampsLit[i]);
}

void MainForm::acquisitionChanged() {
    const MainState& s = status_;
    menuOpzioni_->menuAction()->setEnabled(!s.acquisizioneAttiva);
    menuFile_->menuAction()->setEnabled(!s.acquisizioneAttiva);
    menuAcquisisciAuto_->setEnabled(!s.acquisizioneAttiva);
    lstChiamate_->setEnabled(s.listsEnabled);
    lstRisposte_->setEnabled(s.listsEnabled);
    cmdLeggi_->setEnabled(!s.cycleRunning);
    // The scan needs the line: not while the acquisition has it.
    menuCercaDispositivi_->setEnabled(!s.acquisizioneAttiva);
    menuCercaDispositivi_->setToolTip(
        s.acquisizioneAttiva ? QStringLiteral("Ferma l'acquisizione per cercare i dispositivi")
                             : QString());
    if (deviceSearchWindow_) deviceSearchWindow_->setAcquiring(s.acquisizioneAttiva);
}

void MainForm::statusBarChanged() {
    for (int i = 0; i < 6; ++i) panels_[i]->setText(Text(status_.statusBar[i]));
}

void MainForm::monitorCaptionChanged() { emit monitorCaptionDue(); }
void MainForm::hideSplash() { emit splashToHide(); }
void MainForm::riduciInTray(bool minimise) { emit minimiseRequested(minimise); }

// One window, made when first asked for; asking again raises it.
void MainForm::MenuDeviceStatus_Click() {
    if (!deviceStatusWindow_) deviceStatusWindow_ = new DeviceStatusWindow(health_, clock_, this);
    deviceStatusWindow_->showWindow();
}

// A hidden window catches up when it is shown.
void MainForm::refreshDeviceStatus() {
    if (deviceStatusWindow_ && deviceStatusWindow_->isVisible()) deviceStatusWindow_->refresh();
}

// One window, made when first asked for, with the names of the list.
void MainForm::MenuTrend_Click() {
    if (!trendWindow_)
        trendWindow_ = new TrendWindow(
            [this](const std::string& name, std::chrono::seconds duration,
                   std::function<void(const std::vector<HistoryPoint>&)> answer) {
                command([this, name, duration, answer = std::move(answer)](Program& p) {
                    onWindowThread(
                        [answer, points = p.historyLog().Trend(name, duration)] { answer(points); });
                });
            },
            this);
    trendWindow_->setNames(names_);
    trendWindow_->showWindow();
}

// One window, made when first asked for; the scan and the list's new
// lines run on the core's thread, what they report comes back here.
void MainForm::MenuCercaDispositivi_Click() {
    if (!deviceSearchWindow_) {
        DeviceSearchWindow::Commands commands{
            [this](int first, int last) { startSearch(first, last); },
            [this] {
                if (searchStop_) *searchStop_ = true;
            },
            [this](const std::vector<std::vector<std::string>>& lines) { appendFound(lines); }};
        deviceSearchWindow_ = new DeviceSearchWindow(std::move(commands), this);
    }
    deviceSearchWindow_->setAcquiring(status_.acquisizioneAttiva);
    deviceSearchWindow_->showWindow();
}

void MainForm::startSearch(int first, int last) {
    searchStop_ = std::make_shared<std::atomic<bool>>(false);
    command([this, first, last, stop = searchStop_,
             window = QPointer<DeviceSearchWindow>(deviceSearchWindow_)](Program& p) {
        const auto progress = [this, window](const ScanProgress& step) {
            onWindowThread([window, step] {
                if (window) window->showProgress(step);
            });
        };
        DeviceSearch found =
            SearchDevices(p, first, last, *stop, progress, QtProgramIdentity::templateFolder());
        onWindowThread([window, found = std::move(found)] {
            if (window) window->showResult(found);
        });
    });
}

void MainForm::appendFound(const std::vector<std::vector<std::string>>& linesByDevice) {
    command([this, linesByDevice,
             window = QPointer<DeviceSearchWindow>(deviceSearchWindow_)](Program& p) {
        const ListAppend outcome = AppendToRequestList(p, linesByDevice);
        onWindowThread([window, outcome] {
            if (window) window->showAppended(outcome);
        });
    });
}

void MainForm::settingsReloaded() {
    refreshDeviceStatus();
    if (trendWindow_) trendWindow_->setNames(names_);
}

void MainForm::cycleFinished(const CycleReport& /*cycleReport*/) {
    refreshDeviceStatus();
    if (trendWindow_ && trendWindow_->isVisible()) trendWindow_->refresh();
}

void MainForm::showReloadNotice(bool visibleNow) {
    reloadNotice_->setVisible(visibleNow);
    reloadNotice_->repaint();
}

void MainForm::closeEvent(QCloseEvent* event) {
    // The window never closes by itself: the program decides what a close
    // request means.
    event->ignore();
    emit closeRequested();
}

void MainForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) cmdLeggi_->setFocus();
}

}  // namespace tarvel
