#include "mainwindow/DeviceStatusWindow.h"

#include <QDateTime>
#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

#include "mainwindow/Widgets.h"

namespace tarvel {
namespace {

// The wall-clock time of a steady-clock moment: as long before the wall
// clock's `adesso` as it is before the steady clock's `ora`.
QString WallTimeText(const std::optional<TimePoint>& momento, TimePoint ora, const QDateTime& adesso) {
    if (!momento) return QStringLiteral("-");
    const auto fa = std::chrono::duration_cast<std::chrono::milliseconds>(ora - *momento);
    return adesso.addMSecs(-fa.count()).toString(QStringLiteral("hh:mm:ss"));
}

QTableWidgetItem* Cell(const QString& text) {
    auto* cella = new QTableWidgetItem(text);
    cella->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    cella->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return cella;
}

}  // namespace

DeviceStatusWindow::DeviceStatusWindow(const Health& health, const Clock& clock, QWidget* padre)
    : QWidget(padre, Qt::Window), health_(health), clock_(clock) {
    setObjectName(QStringLiteral("Frm_StatoDispositivi"));
    setWindowTitle(QStringLiteral("Stato dispositivi"));
    setWindowIcon(ProgramIcon());
    setFont(WindowFont());
    resize(Px(11400), Px(3600));

    QStringList intestazioni;
    for (const auto& text : HealthHeaders()) intestazioni << QString::fromStdString(text);
    intestazioni << QStringLiteral("Ultima buona");
    table_ = new QTableWidget(0, static_cast<int>(intestazioni.size()), this);
    table_->setObjectName(QStringLiteral("Tab_Nodi"));
    table_->setHorizontalHeaderLabels(intestazioni);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setAlternatingRowColors(true);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(Px(120), Px(120), Px(120), Px(120));
    layout->addWidget(table_);
}

void DeviceStatusWindow::showWindow() { ShowInFront(*this, [this] { refresh(); }); }

void DeviceStatusWindow::refresh() {
    const TimePoint ora = clock_.now();
    const QDateTime adesso = QDateTime::currentDateTime();
    const auto& nodes = health_.nodes();
    table_->setRowCount(static_cast<int>(nodes.size()));
    int line = 0;
    for (const auto& [node, health] : nodes) {
        int colonna = 0;
        for (const auto& field : HealthFields(node, health))
            table_->setItem(line, colonna++, Cell(QString::fromStdString(field)));
        table_->setItem(line, colonna, Cell(WallTimeText(health.lastGood, ora, adesso)));
        ++line;
    }
}

void DeviceStatusWindow::showEvent(QShowEvent* event) {
    refresh();
    QWidget::showEvent(event);
}

}  // namespace tarvel
