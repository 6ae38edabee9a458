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
bool AtBottom(const QListWidget* listWidget) {
    const QScrollBar* bar = listWidget->verticalScrollBar();
    return bar->value() >= bar->maximum();
}

QStringList Texts(const std::vector<std::string>& lines, std::size_t from) {
    QStringList texts;
    if (lines.size() > from) texts.reserve(static_cast<qsizetype>(lines.size() - from));
    for (std::size_t i = from; i < lines.size(); ++i) texts << QString::fromStdString(lines[i]);
    return texts;
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
    onLogicThread([this](MBus& mbus) { mbus.onMonitorChanged([this] { sendChanges(); }); });
}

void MonitorForm::onLogicThread(std::function<void(MBus&)> command) {
    if (!host_) {
        command(mbus_);
        return;
    }
    host_->post([this, command = std::move(command)] { command(mbus_); });
}

MonitorForm::Changes MonitorForm::takeChanges() {
    const MonitorLog& log = mbus_.monitor();
    Changes changes;
    changes.fullReset = log.resetVersion() != resetSent_;
    if (changes.fullReset) requestsSent_ = answersSent_ = 0;
    changes.requests.assign(
        log.requests().begin() + static_cast<std::ptrdiff_t>(requestsSent_),
        log.requests().end());
    changes.answers.assign(log.answers().begin() + static_cast<std::ptrdiff_t>(answersSent_),
                           log.answers().end());
    requestsSent_ = log.requests().size();
    answersSent_ = log.answers().size();
    resetSent_ = log.resetVersion();
    return changes;
}

void MonitorForm::sendChanges() {
    const auto deliver = [this](const Changes& changes) {
        applica(changes);
        if (!refreshTimer_->enabled()) refreshTimer_->setEnabled(true);
    };
    if (!host_) {
        deliver(takeChanges());
        return;
    }
    host_->toWindow([deliver, changes = takeChanges()] { deliver(changes); });
}

void MonitorForm::applica(const Changes& changes) {
    if (changes.fullReset) copy_.wipe();
    for (const std::string& line : changes.requests) copy_.addRequest(line);
    for (const std::string& line : changes.answers) copy_.addAnswer(line);
}

void MonitorForm::createControls() {
    static const char* const titles[] = {"TX (Comunicazioni da PC a Inverter)",
                                         "RX (Comunicazioni da Inverter a PC)"};
    static const char* const hints[] = {"Data sent from PC to device",
                                               "Data sent from device to PC"};
    const QRect titleRects[] = {Twips(120, 120, 3105, 195), Twips(4560, 120, 3120, 195)};
    const QRect listRects[] = {Twips(120, 480, 4335, 5910), Twips(4560, 480, 4335, 5910)};
    for (int i = 0; i < 2; ++i) {
        const QByteArray titleName = "Lbl_Attivita" + QByteArray::number(i);
        QLabel* title =
            Label(this, titleName.constData(), QString::fromLatin1(titles[i]), titleRects[i]);
        QFont boldFont = title->font();
        boldFont.setBold(true);
        title->setFont(boldFont);
        const QByteArray listName = "LstAttivita" + QByteArray::number(i);
        lists_[i] = List(this, listName.constData(), listRects[i]);
        lists_[i]->setToolTip(QString::fromLatin1(hints[i]));
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
    static const char* const notations[] = {"DEC", "HEX"};
    static const char* const notationHints[] = {"Add data in decimal notation",
                                                        "Add data in hexadecimal notation"};
    const QRect notationRects[] = {Twips(1200, 6720, 735, 255), Twips(2040, 6720, 735, 255)};
    for (int i = 0; i < 2; ++i) {
        options_[i] = new QRadioButton(QString::fromLatin1(notations[i]), this);
        options_[i]->setObjectName(QStringLiteral("Opt_Notazione%1").arg(i));
        options_[i]->setToolTip(QString::fromLatin1(notationHints[i]));
        options_[i]->setGeometry(notationRects[i]);
        connect(options_[i], &QRadioButton::clicked, this, [this, i] { Opt_Notazione_Click(i); });
    }
    cmdClear_ = new QPushButton(QStringLiteral("Pulisci"), this);
    cmdClear_->setObjectName(QStringLiteral("Cmd_Clear"));
    cmdClear_->setGeometry(Twips(7800, 6720, 1095, 285));
    connect(cmdClear_, &QPushButton::clicked, this, [this] { Cmd_Clear_Click(); });
}

void MonitorForm::PreparaMonitor() {
    Cmd_Clear_Click();
    onLogicThread([](MBus& mbus) {
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
        onLogicThread([](MBus& mbus) { mbus.ImpostaMonitorAttivo(false); });
        hide();
    } else {
        copy_.wipe();
        onLogicThread([this](MBus& mbus) {
            mbus.ImpostaMonitorAttivo(true);
            mbus.monitor().wipe();
            sendChanges();
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
    copy_.wipe();
    onLogicThread([this](MBus& mbus) {
        mbus.monitor().wipe();
        sendChanges();
    });
    refresh();
}

void MonitorForm::Opt_Notazione_Click(int index) {
    onLogicThread([index](MBus& mbus) { mbus.ImpostaNotazione(static_cast<std::int16_t>(index)); });
}

void MonitorForm::LstAttivita_Click(int index) {
    const int line = lists_[index]->currentRow();
    QListWidget* otherOne = lists_[1 - index];
    if (line < 0 || line >= otherOne->count()) return;
    updating_ = true;
    otherOne->setCurrentRow(line);
    updating_ = false;
}

void MonitorForm::LstAttivita_DblClick(int index) {
    if (copy_.requests().empty()) return;
    const int line = lists_[index]->currentRow();
    if (line < 0) return;
    copy_.removePair(static_cast<std::size_t>(line));
    onLogicThread([this, line](MBus& mbus) {
        mbus.monitor().removePair(static_cast<std::size_t>(line));
        sendChanges();
    });
    refresh();
}

void MonitorForm::refresh() {
    // On one thread the log is read where it is.
    if (!host_) applica(takeChanges());
    const MonitorLog& log = copy_;
    if (log.resetVersion() != resetSeen_) {
        reload();
    } else if (log.version() != versionSeen_) {
        append(0, log.requests());
        append(1, log.answers());
    }
    versionSeen_ = log.version();
    resetSeen_ = log.resetVersion();
}

void MonitorForm::reload() {
    // Lines went away: both lists are drawn again, at the place the user was
    // looking at, or at the end when the list was following it.
    const MonitorLog& log = copy_;
    const std::vector<std::string>* lines[] = {&log.requests(), &log.answers()};
    updating_ = true;
    for (int i = 0; i < 2; ++i) {
        QListWidget* listWidget = lists_[i];
        const bool follow = AtBottom(listWidget);
        const int place = listWidget->verticalScrollBar()->value();
        const int current = listWidget->currentRow();
        listWidget->clear();
        listWidget->addItems(Texts(*lines[i], 0));
        if (follow) {
            showLast(listWidget);
        } else {
            if (current >= 0 && current < listWidget->count()) listWidget->setCurrentRow(current);
            listWidget->doItemsLayout();  // the scroll range of the new lines
            listWidget->verticalScrollBar()->setValue(place);
        }
    }
    updating_ = false;
}

void MonitorForm::append(int index, const std::vector<std::string>& lines) {
    QListWidget* listWidget = lists_[index];
    const auto shown = static_cast<std::size_t>(listWidget->count());
    if (lines.size() <= shown) return;
    const bool follow = AtBottom(listWidget);
    const bool first = updating_;
    updating_ = true;
    listWidget->addItems(Texts(lines, shown));
    if (follow) showLast(listWidget);
    updating_ = first;
}

void MonitorForm::showLast(QListWidget* listWidget) {
    listWidget->setCurrentRow(listWidget->count() - 1);
    listWidget->scrollToBottom();
}

void MonitorForm::closeEvent(QCloseEvent* event) {
    onLogicThread([](MBus& mbus) { mbus.ImpostaMonitorAttivo(false); });
    event->ignore();
    hide();
}

void MonitorForm::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) cmdClear_->setFocus();
}

}  // namespace tarvel
