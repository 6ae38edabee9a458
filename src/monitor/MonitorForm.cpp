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
bool InFondo(const QListWidget* lista) {
    const QScrollBar* barra = lista->verticalScrollBar();
    return barra->value() >= barra->maximum();
}

QStringList Testi(const std::vector<std::string>& righe, std::size_t da) {
    QStringList testi;
    if (righe.size() > da) testi.reserve(static_cast<qsizetype>(righe.size() - da));
    for (std::size_t i = da; i < righe.size(); ++i) testi << QString::fromStdString(righe[i]);
    return testi;
}

}  // namespace

MonitorForm::MonitorForm(MBus& mbus, Clock& clock, AcquisitionHost* host)
    : mbus_(mbus), host_(host), tmrAggiorna_(clock.createTimer()) {
    setObjectName(QStringLiteral("Monitor"));
    setWindowTitle(QStringLiteral("Monitor RS232"));
    setWindowIcon(IconaProgramma());
    setFont(FontFinestre());
    setFixedSize(Px(9015), Px(7170));
    creaControlli();
    AdattaTesti(*this);
    tmrAggiorna_->setInterval(IntervalloAggiornamento);
    tmrAggiorna_->onTimeout([this] {
        tmrAggiorna_->setEnabled(false);
        aggiorna();
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
    novita.tutto = log.versioneAzzeramento() != azzeramentoInviato_;
    if (novita.tutto) richiesteInviate_ = risposteInviate_ = 0;
    novita.richieste.assign(
        log.richieste().begin() + static_cast<std::ptrdiff_t>(richiesteInviate_),
        log.richieste().end());
    novita.risposte.assign(log.risposte().begin() + static_cast<std::ptrdiff_t>(risposteInviate_),
                           log.risposte().end());
    richiesteInviate_ = log.richieste().size();
    risposteInviate_ = log.risposte().size();
    azzeramentoInviato_ = log.versioneAzzeramento();
    return novita;
}

void MonitorForm::inviaNovita() {
    const auto ricevi = [this](const Novita& novita) {
        applica(novita);
        if (!tmrAggiorna_->enabled()) tmrAggiorna_->setEnabled(true);
    };
    if (!host_) {
        ricevi(prendiNovita());
        return;
    }
    host_->toWindow([ricevi, novita = prendiNovita()] { ricevi(novita); });
}

void MonitorForm::applica(const Novita& novita) {
    if (novita.tutto) copia_.pulisci();
    for (const std::string& riga : novita.richieste) copia_.aggiungiRichiesta(riga);
    for (const std::string& riga : novita.risposte) copia_.aggiungiRisposta(riga);
}

void MonitorForm::creaControlli() {
    static const char* const titoli[] = {"TX (Comunicazioni da PC a Inverter)",
                                         "RX (Comunicazioni da Inverter a PC)"};
    static const char* const suggerimenti[] = {"Data sent from PC to device",
                                               "Data sent from device to PC"};
    const QRect postiTitoli[] = {Twips(120, 120, 3105, 195), Twips(4560, 120, 3120, 195)};
    const QRect postiListe[] = {Twips(120, 480, 4335, 5910), Twips(4560, 480, 4335, 5910)};
    for (int i = 0; i < 2; ++i) {
        const QByteArray nomeTitolo = "Lbl_Attivita" + QByteArray::number(i);
        QLabel* titolo =
            Etichetta(this, nomeTitolo.constData(), QString::fromLatin1(titoli[i]), postiTitoli[i]);
        QFont grassetto = titolo->font();
        grassetto.setBold(true);
        titolo->setFont(grassetto);
        const QByteArray nomeLista = "LstAttivita" + QByteArray::number(i);
        liste_[i] = Lista(this, nomeLista.constData(), postiListe[i]);
        liste_[i]->setToolTip(QString::fromLatin1(suggerimenti[i]));
        connect(liste_[i], &QListWidget::currentRowChanged, this, [this, i] {
            if (!aggiornando_) LstAttivita_Click(i);
        });
        connect(liste_[i], &QListWidget::itemDoubleClicked, this,
                [this, i] { LstAttivita_DblClick(i); });
    }
    auto* linea = new DoubleLine(this);
    linea->setObjectName(QStringLiteral("Lin_Monitor"));
    linea->setGeometry(Px(120), Px(6600), Px(8880) - Px(120), 2);

    Etichetta(this, "Lab_Monitor", QStringLiteral("Formato dati:"), Twips(120, 6720, 975, 255));
    static const char* const notazioni[] = {"DEC", "HEX"};
    static const char* const suggerimentiNotazione[] = {"Add data in decimal notation",
                                                        "Add data in hexadecimal notation"};
    const QRect postiNotazioni[] = {Twips(1200, 6720, 735, 255), Twips(2040, 6720, 735, 255)};
    for (int i = 0; i < 2; ++i) {
        opzioni_[i] = new QRadioButton(QString::fromLatin1(notazioni[i]), this);
        opzioni_[i]->setObjectName(QStringLiteral("Opt_Notazione%1").arg(i));
        opzioni_[i]->setToolTip(QString::fromLatin1(suggerimentiNotazione[i]));
        opzioni_[i]->setGeometry(postiNotazioni[i]);
        connect(opzioni_[i], &QRadioButton::clicked, this, [this, i] { Opt_Notazione_Click(i); });
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
    opzioni_[1]->setChecked(true);
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
        aggiorna();
        show();
        raise();
        activateWindow();
    }
    update();
}

void MonitorForm::impostaDidascalia(const std::string& didascalia) {
    setWindowTitle(QString::fromStdString(didascalia));
}

void MonitorForm::Cmd_Clear_Click() {
    copia_.pulisci();
    sullaLogica([this](MBus& mbus) {
        mbus.monitor().pulisci();
        inviaNovita();
    });
    aggiorna();
}

void MonitorForm::Opt_Notazione_Click(int indice) {
    sullaLogica([indice](MBus& mbus) { mbus.ImpostaNotazione(static_cast<std::int16_t>(indice)); });
}

void MonitorForm::LstAttivita_Click(int indice) {
    const int riga = liste_[indice]->currentRow();
    QListWidget* altra = liste_[1 - indice];
    if (riga < 0 || riga >= altra->count()) return;
    aggiornando_ = true;
    altra->setCurrentRow(riga);
    aggiornando_ = false;
}

void MonitorForm::LstAttivita_DblClick(int indice) {
    if (copia_.richieste().empty()) return;
    const int riga = liste_[indice]->currentRow();
    if (riga < 0) return;
    copia_.rimuoviCoppia(static_cast<std::size_t>(riga));
    sullaLogica([this, riga](MBus& mbus) {
        mbus.monitor().rimuoviCoppia(static_cast<std::size_t>(riga));
        inviaNovita();
    });
    aggiorna();
}

void MonitorForm::aggiorna() {
    // On one thread the log is read where it is.
    if (!host_) applica(prendiNovita());
    const MonitorLog& log = copia_;
    if (log.versioneAzzeramento() != azzeramentoVisto_) {
        ricarica();
    } else if (log.versione() != versioneVista_) {
        appendi(0, log.richieste());
        appendi(1, log.risposte());
    }
    versioneVista_ = log.versione();
    azzeramentoVisto_ = log.versioneAzzeramento();
}

void MonitorForm::ricarica() {
    // Lines went away: both lists are drawn again, at the place the user was
    // looking at, or at the end when the list was following it.
    const MonitorLog& log = copia_;
    const std::vector<std::string>* righe[] = {&log.richieste(), &log.risposte()};
    aggiornando_ = true;
    for (int i = 0; i < 2; ++i) {
        QListWidget* lista = liste_[i];
        const bool segui = InFondo(lista);
        const int posizione = lista->verticalScrollBar()->value();
        const int corrente = lista->currentRow();
        lista->clear();
        lista->addItems(Testi(*righe[i], 0));
        if (segui) {
            mostraUltima(lista);
        } else {
            if (corrente >= 0 && corrente < lista->count()) lista->setCurrentRow(corrente);
            lista->doItemsLayout();  // the scroll range of the new lines
            lista->verticalScrollBar()->setValue(posizione);
        }
    }
    aggiornando_ = false;
}

void MonitorForm::appendi(int indice, const std::vector<std::string>& righe) {
    QListWidget* lista = liste_[indice];
    const auto mostrate = static_cast<std::size_t>(lista->count());
    if (righe.size() <= mostrate) return;
    const bool segui = InFondo(lista);
    const bool prima = aggiornando_;
    aggiornando_ = true;
    lista->addItems(Testi(righe, mostrate));
    if (segui) mostraUltima(lista);
    aggiornando_ = prima;
}

void MonitorForm::mostraUltima(QListWidget* lista) {
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
