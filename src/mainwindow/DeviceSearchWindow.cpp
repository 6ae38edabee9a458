#include "mainwindow/DeviceSearchWindow.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "mainwindow/Widgets.h"

namespace tarvel {
namespace {

constexpr int FirstNode = 1;
constexpr int LastNode = 247;

QString Text(const std::string& text) { return QString::fromStdString(text); }

QSpinBox* NodeBox(QWidget* owner, const char* name, int value) {
    auto* box = new QSpinBox(owner);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(FirstNode, LastNode);
    box->setValue(value);
    return box;
}

QPushButton* Button(QWidget* owner, const char* name, const QString& text) {
    auto* button = new QPushButton(text, owner);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

}  // namespace

DeviceSearchWindow::DeviceSearchWindow(Commands commands, QWidget* owner)
    : QWidget(owner, Qt::Window), commands_(std::move(commands)) {
    setObjectName(QStringLiteral("Frm_CercaDispositivi"));
    setWindowTitle(QStringLiteral("Cerca dispositivi"));
    setWindowIcon(ProgramIcon());
    setFont(WindowFont());
    // The main window waits while this one is open: no cycle and no reload
    // come between a scan and its lines.
    setWindowModality(Qt::WindowModal);
    resize(Px(9000), Px(6600));

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("Prb_Avanzamento"));
    progress_->setRange(0, 1);
    progress_->setValue(0);
    state_ = new QLabel(this);
    state_->setObjectName(QStringLiteral("Lab_Stato"));
    devices_ = new QTreeWidget(this);
    devices_->setObjectName(QStringLiteral("Tre_Dispositivi"));
    devices_->setHeaderHidden(true);
    devices_->setColumnCount(1);
    connect(devices_, &QTreeWidget::itemChanged, this, [this] { updateControls(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(Px(120), Px(120), Px(120), Px(120));
    layout->addLayout(createRange());
    layout->addWidget(progress_);
    layout->addWidget(state_);
    auto* title = new QLabel(QStringLiteral("Dispositivi trovati"), this);
    title->setObjectName(QStringLiteral("Lab_Dispositivi"));
    layout->addWidget(title);
    layout->addWidget(devices_, 1);
    layout->addLayout(createButtons());
    updateControls();
}

QLayout* DeviceSearchWindow::createRange() {
    auto* row = new QHBoxLayout;
    first_ = NodeBox(this, "Spn_Da", FirstNode);
    last_ = NodeBox(this, "Spn_A", LastNode);
    cmdAvvia_ = Button(this, "Cmd_Avvia", QStringLiteral("Avvia"));
    cmdFerma_ = Button(this, "Cmd_Ferma", QStringLiteral("Ferma"));
    row->addWidget(new QLabel(QStringLiteral("Nodi da"), this));
    row->addWidget(first_);
    row->addWidget(new QLabel(QStringLiteral("a"), this));
    row->addWidget(last_);
    row->addStretch(1);
    row->addWidget(cmdAvvia_);
    row->addWidget(cmdFerma_);
    connect(first_, &QSpinBox::valueChanged, last_, &QSpinBox::setMinimum);
    connect(cmdAvvia_, &QPushButton::clicked, this, [this] { Cmd_Avvia_Click(); });
    connect(cmdFerma_, &QPushButton::clicked, this, [this] { Cmd_Ferma_Click(); });
    return row;
}

QLayout* DeviceSearchWindow::createButtons() {
    auto* row = new QHBoxLayout;
    cmdAggiungi_ = Button(this, "Cmd_Aggiungi", QStringLiteral("Aggiungi all'elenco"));
    auto* cmdChiudi = Button(this, "Cmd_Chiudi", QStringLiteral("Chiudi"));
    row->addStretch(1);
    row->addWidget(cmdAggiungi_);
    row->addWidget(cmdChiudi);
    connect(cmdAggiungi_, &QPushButton::clicked, this, [this] { Cmd_Aggiungi_Click(); });
    connect(cmdChiudi, &QPushButton::clicked, this, [this] { close(); });
    return row;
}

void DeviceSearchWindow::showWindow() {
    ShowInFront(*this, [] {});
}

void DeviceSearchWindow::setAcquiring(bool acquiring) {
    acquiring_ = acquiring;
    if (acquiring && !scanning_)
        state_->setText(
            QStringLiteral("Acquisizione in corso: fermarla per cercare i dispositivi"));
    updateControls();
}

void DeviceSearchWindow::updateControls() {
    const bool idle = !scanning_ && !appending_;
    cmdAvvia_->setEnabled(idle && !acquiring_);
    cmdAvvia_->setToolTip(acquiring_ ? QStringLiteral("Ferma prima l'acquisizione") : QString());
    cmdFerma_->setEnabled(scanning_ && !stopping_);
    first_->setEnabled(idle);
    last_->setEnabled(idle);
    cmdAggiungi_->setEnabled(idle && !acquiring_ && linesToAdd_ && !checkedLines().empty());
}

void DeviceSearchWindow::Cmd_Avvia_Click() {
    if (scanning_ || acquiring_) return;
    devices_->clear();
    linesToAdd_ = false;
    scanning_ = true;
    stopping_ = false;
    progress_->setRange(0, last_->value() - first_->value() + 1);
    progress_->setValue(0);
    state_->setText(QStringLiteral("Ricerca in corso..."));
    updateControls();
    commands_.start(first_->value(), last_->value());
}

void DeviceSearchWindow::Cmd_Ferma_Click() {
    if (!scanning_ || stopping_) return;
    stopping_ = true;
    state_->setText(QStringLiteral("Interruzione dopo la richiesta in corso..."));
    updateControls();
    commands_.stop();
}

void DeviceSearchWindow::showProgress(const ScanProgress& progress) {
    progress_->setRange(0, progress.total);
    progress_->setValue(progress.asked);
    if (!stopping_)
        state_->setText(QStringLiteral("%1/%2 %3")
                            .arg(progress.asked)
                            .arg(progress.total)
                            .arg(Text(progress.text)));
}

void DeviceSearchWindow::showResult(const DeviceSearch& search) {
    scanning_ = stopping_ = false;
    for (const FoundDevice& device : search.devices) addDevice(device);
    linesToAdd_ = true;
    const QString count = QStringLiteral("%1 dispositivi").arg(search.devices.size());
    if (!search.error.empty())
        state_->setText(Text(search.error));
    else
        state_->setText((search.stopped ? QStringLiteral("Ricerca interrotta: ")
                                        : QStringLiteral("Ricerca finita: ")) +
                        count);
    updateControls();
}

// A row per device, a checked row per line under it; a device without
// lines says so in a row that cannot be checked.
void DeviceSearchWindow::addDevice(const FoundDevice& device) {
    auto* item = new QTreeWidgetItem(devices_);
    item->setText(0, QStringLiteral("Nodo %1: %2").arg(device.node).arg(Text(device.comment)));
    if (device.lines.empty()) {
        new QTreeWidgetItem(item, QStringList(QStringLiteral("(nessuna riga)")));
    } else {
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsAutoTristate);
        for (const std::string& line : device.lines) {
            auto* row = new QTreeWidgetItem(item, QStringList(Text(line)));
            row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
            row->setCheckState(0, Qt::Checked);
        }
    }
    item->setExpanded(true);
}

std::vector<std::vector<std::string>> DeviceSearchWindow::checkedLines() const {
    std::vector<std::vector<std::string>> byDevice;
    for (int d = 0; d < devices_->topLevelItemCount(); ++d) {
        const QTreeWidgetItem* device = devices_->topLevelItem(d);
        std::vector<std::string> lines;
        for (int r = 0; r < device->childCount(); ++r)
            if (device->child(r)->checkState(0) == Qt::Checked)
                lines.push_back(device->child(r)->text(0).toStdString());
        if (!lines.empty()) byDevice.push_back(std::move(lines));
    }
    return byDevice;
}

void DeviceSearchWindow::Cmd_Aggiungi_Click() {
    const auto lines = checkedLines();
    if (lines.empty() || scanning_ || appending_ || acquiring_) return;
    appending_ = true;
    updateControls();
    commands_.append(lines);
}

// Lines once added are not offered again until the next scan.
void DeviceSearchWindow::showAppended(const ListAppend& outcome) {
    appending_ = false;
    if (outcome.ok) linesToAdd_ = false;
    state_->setText(Text(outcome.message));
    updateControls();
}

void DeviceSearchWindow::closeEvent(QCloseEvent* event) {
    Cmd_Ferma_Click();
    QWidget::closeEvent(event);
}

}  // namespace tarvel
