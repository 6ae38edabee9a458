#include "monitor/MonitorForm.h"

#include <QCloseEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

#include "mainwindow/Widgets.h"

namespace tarvel {
namespace {

// A list follows its last line unless the user scrolled away from it.
bool AtBottom(const QListWidget* lista) {
    const QScrollBar* barra = lista->verticalScrollBar();
    return barra->value() >= barra->maximum();
}

QStringList Texts(const std::vector<std::string>& lines, std::size_t from) {
    QStringList testi;
    if (lines.size() > from) testi.reserve(static_cast<qsizetype>(lines.size() - from));
    for (std::size_t i = from; i < lines.size(); ++i) testi << QString::fromStdString(lines[i]);
    return testi;
}

}  // namespace

MonitorForm::MonitorForm(MBus& mbus, Clock& clock, AcquisitionHost* host)
    : mbus_(mbus), host_(host), refreshTimer_(clock.createTimer()) {
    setObjectName(QStringLiteral("Monitor"));
    setWindowTitle(QStringLiteral("Monitor RS232"));
    setWindowIcon(ProgramIcon());
    setFont(WindowFont());
    setFixedSize(Px(9015), Px(7170));
    createControls();
    FitTexts(*this);
    refreshTimer_->setInterval(RefreshInterval);
    refreshTimer_->onTimeout([this] {
        refreshTimer_->setEnabled(false);
        refresh();
    });
    sullaLogica([this](MBus& mbus) { mbus.onMonitorChanged([this] { inviaNovita(); }); });
}

void MonitorForm::sullaLogica(std::function<void(MBus&)> comando) {
    if (!host_) {
        comando(mbus_);
        return;
    }
    host_->post([this, comando = std::move(comando)] { comando(mbus_); });
}

MonitorForm::Novita MonitorForm::prendiNovita() {
    const MonitorLog& log = mbus_.monitor();
    Novita novita;
    novita.tutto = log.resetVersion() != azzeramentoInviato_;
    if (novita.tutto) richiesteInviate_ = risposteInviate_ = 0;
    novita.requests.assign(
        log.requests().begin() + static_cast<std::ptrdiff_t>(richiesteInviate_),
        log.requests().end());
    novita.answers.assign(log.answers().begin() + static_cast<std::ptrdiff_t>(risposteInviate_),
                           log.answers().end());
    richiesteInviate_ = log.requests().size();
    risposteInviate_ = log.answers().size();
    azzeramentoInviato_ = log.resetVersion();
    return novita;
}

void MonitorForm::inviaNovita() {
    const auto ricevi = [this](const Novita& novita) {
        applica(novita);
        if (!refreshTimer_->enabled()) refreshTimer_->setEnabled(true);
    };
    if (!host_) {
        ricevi(prendiNovita());
        return;
    }
    host_->toWindow([ricevi, novita = prendiNovita()] { ricevi(novita); });
}

void MonitorForm::applica(const Novita& novita) {
    if (novita.tutto) copia_.pulisci();
    for (const std::string& line : novita.requests) copia_.addRequest(line);
    for (const std::string& line : novita.answers) copia_.addAnswer(line);
}

void MonitorForm::createControls() {
    static const char* const titoli[] = {"TX (Comunicazioni da PC a Inverter)",
                                         "RX (Comunicazioni da Inverter a PC)"};
    static const char* const suggerimenti[] = {"Data sent from PC to device",
                                               "Data sent from device to PC"};
    const QRect postiTitoli[] = {Twips(120, 120, 3105, 195), Twips(4560, 120, 3120, 195)};
    const QRect postiListe[] = {Twips(120, 480, 4335, 5910), Twips(4560, 480, 4335, 5910)};
    for (int i = 0; i < 2; ++i) {
        const QByteArray nomeTitolo = "Lbl_Attivita" + QByteArray::number(i);
        QLabel* title =
            Label(this, nomeTitolo.constData(), QString::fromLatin1(titoli[i]), postiTitoli[i]);
        QFont grassetto = title->font();
        grassetto.setBold(true);
        title->setFont(grassetto);
        const QByteArray nomeLista = "LstAttivita" + QByteArray::number(i);
        lists_[i] = List(this, nomeLista.constData(), postiListe[i]);
        lists_[i]->setToolTip(QString::fromLatin1(suggerimenti[i]));
        connect(lists_[i], &QListWidget::currentRowChanged, this, [this, i] {
            if (!updating_) LstAttivita_Click(i);
        });
        connect(lists_[i], &QListWidget::itemDoubleClicked, this,
                [this, i] { LstAttivita_DblClick(i); });
    }
    auto* linea = new DoubleLine(this);
    linea->setObjectName(QStringLiteral("Lin_Monitor"));
    linea->setGeometry(Px(120), Px(6600), Px(8880) - Px(120), 2);

    Label(this, "Lab_Monitor", QStringLiteral("Formato dati:"), Twips(120, 6720, 975, 255));
    static const char* const notazioni[] = {"DEC", "HEX"};
    static const char* const suggerimentiNotazione[] = {"Add data in decimal notation",
                                                        "Add data in hexadecimal notation"};
    const QRect postiNotazioni[] = {Twips(1200, 6720, 735, 255), Twips(2040, 6720, 735, 255)};
    for (int i = 0; i < 2; ++i) {
        options_[i] = new QRadioButton(QString::fromLatin1(notazioni[i]), this);
        options_[i]->setObjectName(QStringLiteral("Opt_Notazione%1").arg(i));
        options_[i]->setToolTip(QString::fromLatin1(suggerimentiNotazione[i]));
        options_[i]->setGeometry(postiNotazioni[i]);
        connect(options_[i], &QRadioButton::clicked, this, [this, i] { Opt_Notazione_Click(i); });
    }
    cmdClear_ = new QPushButton(QStringLiteral("Pulisci"), this);
    cmdClear_->setObjectName(QStringLiteral("Cmd_Clear"));
    cmdClear_->setGeometry(Twips(7800, 6720, 1095, 285));
    connect(cmdClear_, &QPushButton::clicked, this, [this] { Cmd_Clear_Click(); });
}

void MonitorForm::PreparaMonitor() {
    Cmd_Clear_Click();
    sullaLogica([](MBus& mbus) {
        mbus.ImpostaMonitorAttivo(false);
        mbus.ImpostaNotazione(static_cast<std::int16_t>(Notation::Hexadecimal));
    });
    options_[1]->setChecked(true);
    Opt_Notazione_Click(1);
    setWindowTitle(QStringLiteral("Monitor RS232"));
    hide();
}

void MonitorForm::MenuMonitor_Click() {
    if (isVisible()) {
        sullaLogica([](MBus& mbus) { mbus.ImpostaMonitorAttivo(false); });
        hide();
    } else {
        copia_.pulisci();
        sullaLogica([this](MBus& mbus) {
            mbus.ImpostaMonitorAttivo(true);
            mbus.monitor().pulisci();
            inviaNovita();
        });
        refresh();
        show();
        raise();
        activateWindow();
    }
    update();
}

void MonitorForm::setCaption(const std::string& caption) {
    setWindowTitle(QString::fromStdString(caption));
}

void MonitorForm::Cmd_Clear_Click() {
    copia_.pulisci();
    sullaLogica([this](MBus& mbus) {
        mbus.monitor().pulisci();
        inviaNovita();
    });
    refresh();
}

void MonitorForm::Opt_Notazione_Click(int index) {
    sullaLogica([index](MBus& mbus) { mbus.ImpostaNotazione(static_cast<std::int16_t>(index)); });
}

void MonitorForm::LstAttivita_Click(int index) {
    const int line = lists_[index]->currentRow();
    QListWidget* altra = lists_[1 - index];
    if (line < 0 || line >= altra->count()) return;
    updating_ = true;
    altra->setCurrentRow(line);
    updating_ = false;
}

void MonitorForm::LstAttivita_DblClick(int index) {
    if (copia_.requests().empty()) return;
    const int line = lists_[index]->currentRow();
    if (line < 0) return;
    copia_.removePair(static_cast<std::size_t>(line));
    sullaLogica([this, line](MBus& mbus) {
        mbus.monitor().removePair(static_cast<std::size_t>(line));
        inviaNovita();
    });
    refresh();
}

void MonitorForm::refresh() {
    // On one thread the log is read where it is.
    if (!host_) applica(prendiNovita());
    const MonitorLog& log = copia_;
    if (log.resetVersion() != resetSeen_) {
        reload();
    } else if (log.versione() != versionSeen_) {
        append(0, log.requests());
        append(1, log.answers());
    }
    versionSeen_ = log.versione();
    resetSeen_ = log.resetVersion();
}

void MonitorForm::reload() {
    // Lines went away: both lists are drawn again, at the place the user was
    // looking at, or at the end when the list was following it.
    const MonitorLog& log = copia_;
    const std::vector<std::string>* lines[] = {&log.requests(), &log.answers()};
    updating_ = true;
    for (int i = 0; i < 2; ++i) {
        QListWidget* lista = lists_[i];
        const bool segui = AtBottom(lista);
        const int posizione = lista->verticalScrollBar()->value();
        const int corrente = lista->currentRow();
        lista->clear();
        lista->addItems(Texts(*lines[i], 0));
        if (segui) {
            showLast(lista);
        } else {
            if (corrente >= 0 && corrente < lista->count()) lista->setCurrentRow(corrente);
            lista->doItemsLayout();  // the scroll range of the new lines
            lista->verticalScrollBar()->setValue(posizione);
        }
    }
    updating_ = false;
}

void MonitorForm::append(int index, const std::vector<std::string>& lines) {
    QListWidget* lista = lists_[index];
    const auto mostrate = static_cast<std::size_t>(lista->count());
    if (lines.size() <= mostrate) return;
    const bool segui = AtBottom(lista);
    const bool prima = updating_;
    updating_ = true;
    lista->addItems(Texts(lines, mostrate));
    if (segui) showLast(lista);
    updating_ = prima;
}

void MonitorForm::showLast(QListWidget* lista) {
    lista->setCurrentRow(lista->count() - 1);
    lista->scrollToBottom();
}

void MonitorForm::closeEvent(QCloseEvent* event) {
    sullaLogica([](MBus& mbus) { mbus.ImpostaMonitorAttivo(false); });
    event->ignore();
    hide();
}

void MonitorForm::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) cmdClear_->setFocus();
}

}  // namespace tarvel
