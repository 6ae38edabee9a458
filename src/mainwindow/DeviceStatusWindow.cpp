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
QString OraMuro(const std::optional<TimePoint>& momento, TimePoint ora, const QDateTime& adesso) {
    if (!momento) return QStringLiteral("-");
    const auto fa = std::chrono::duration_cast<std::chrono::milliseconds>(ora - *momento);
    return adesso.addMSecs(-fa.count()).toString(QStringLiteral("hh:mm:ss"));
}

QTableWidgetItem* Cella(const QString& testo) {
    auto* cella = new QTableWidgetItem(testo);
    cella->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    cella->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return cella;
}

}  // namespace

DeviceStatusWindow::DeviceStatusWindow(const Health& salute, const Clock& clock, QWidget* padre)
    : QWidget(padre, Qt::Window), salute_(salute), clock_(clock) {
    setObjectName(QStringLiteral("Frm_StatoDispositivi"));
    setWindowTitle(QStringLiteral("Stato dispositivi"));
    setWindowIcon(IconaProgramma());
    setFont(FontFinestre());
    resize(Px(11400), Px(3600));

    QStringList intestazioni;
    for (const auto& testo : IntestazioniSalute()) intestazioni << QString::fromStdString(testo);
    intestazioni << QStringLiteral("Ultima buona");
    tabella_ = new QTableWidget(0, static_cast<int>(intestazioni.size()), this);
    tabella_->setObjectName(QStringLiteral("Tab_Nodi"));
    tabella_->setHorizontalHeaderLabels(intestazioni);
    tabella_->verticalHeader()->hide();
    tabella_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tabella_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tabella_->setSelectionMode(QAbstractItemView::SingleSelection);
    tabella_->setAlternatingRowColors(true);
    tabella_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(Px(120), Px(120), Px(120), Px(120));
    layout->addWidget(tabella_);
}

void DeviceStatusWindow::mostra() { MostraInPrimoPiano(*this, [this] { aggiorna(); }); }

void DeviceStatusWindow::aggiorna() {
    const TimePoint ora = clock_.now();
    const QDateTime adesso = QDateTime::currentDateTime();
    const auto& nodi = salute_.nodi();
    tabella_->setRowCount(static_cast<int>(nodi.size()));
    int riga = 0;
    for (const auto& [nodo, salute] : nodi) {
        int colonna = 0;
        for (const auto& campo : CampiSalute(nodo, salute))
            tabella_->setItem(riga, colonna++, Cella(QString::fromStdString(campo)));
        tabella_->setItem(riga, colonna, Cella(OraMuro(salute.ultimaBuona, ora, adesso)));
        ++riga;
    }
}

void DeviceStatusWindow::showEvent(QShowEvent* event) {
    aggiorna();
    QWidget::showEvent(event);
}

}  // namespace tarvel
