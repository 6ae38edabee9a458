#include "mainwindow/DeviceStatusWindow.h"

#include <QDateTime>
#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

#include "mainwindow/Widgets.h"

namespace tarvel {
namespace {

// The wall-clock time of a steady-clock moment: as long before the wall
// clock's `nowTime` as it is before the steady clock's `timeOfDay`.
QString WallTimeText(const std::optional<TimePoint>& moment, TimePoint timeOfDay, const QDateTime& nowTime) {
    if (!moment) return QStringLiteral("-");
    const auto fa = std::chrono::duration_cast<std::chrono::milliseconds>(timeOfDay - *moment);
    return nowTime.addMSecs(-fa.count()).toString(QStringLiteral("hh:mm:ss"));
}

QTableWidgetItem* Cell(const QString& text) {
    auto* cell = new QTableWidgetItem(text);
    cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return cell;
}

}  // namespace

DeviceStatusWindow::DeviceStatusWindow(const Health& health, const Clock& clock, QWidget* owner)
    : QWidget(owner, Qt::Window), health_(health), clock_(clock) {
    setObjectName(QStringLiteral("Frm_StatoDispositivi"));
    setWindowTitle(QStringLiteral("Stato dispositivi"));
    setWindowIcon(ProgramIcon());
    setFont(WindowFont());
    resize(Px(11400), Px(3600));

    QStringList headers;
    for (const auto& text : HealthHeaders()) headers << QString::fromStdString(text);
    headers << QStringLiteral("Ultima buona");
    table_ = new QTableWidget(0, static_cast<int>(headers.size()), this);
    table_->setObjectName(QStringLiteral("Tab_Nodi"));
    table_->setHorizontalHeaderLabels(headers);
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
    const TimePoint timeOfDay = clock_.now();
    const QDateTime nowTime = QDateTime::currentDateTime();
    const auto& nodes = health_.nodes();
    table_->setRowCount(static_cast<int>(nodes.size()));
    int line = 0;
    for (const auto& [node, health] : nodes) {
        int col = 0;
        for (const auto& field : HealthFields(node, health))
            table_->setItem(line, col++, Cell(QString::fromStdString(field)));
        table_->setItem(line, col, Cell(WallTimeText(health.lastGood, timeOfDay, nowTime)));
        ++line;
    }
}

void DeviceStatusWindow::showEvent(QShowEvent* event) {
    refresh();
    QWidget::showEvent(event);
}

}  // namespace tarvel
