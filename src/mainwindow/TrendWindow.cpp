#include "mainwindow/TrendWindow.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>

#include "mainwindow/Widgets.h"

namespace tarvel {
namespace {

qint64 Millisecondi(WallTime quando) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(quando.time_since_epoch()).count();
}

QComboBox* Scelta(QWidget* area, const char* nome) {
    auto* scelta = new QComboBox(area);
    scelta->setObjectName(QString::fromLatin1(nome));
    scelta->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return scelta;
}

}  // namespace

const std::vector<std::pair<QString, std::chrono::seconds>>& TrendWindow::Intervalli() {
    static const std::vector<std::pair<QString, std::chrono::seconds>> intervalli{
        {QStringLiteral("1 ora"), std::chrono::hours(1)},
        {QStringLiteral("24 ore"), std::chrono::hours(24)},
        {QStringLiteral("7 giorni"), std::chrono::days(7)}};
    return intervalli;
}

TrendWindow::TrendWindow(LettoreCurva lettore, QWidget* padre)
    : QWidget(padre, Qt::Window), lettore_(std::move(lettore)) {
    setObjectName(QStringLiteral("Frm_Grafico"));
    setWindowTitle(QStringLiteral("Grafico"));
    setWindowIcon(IconaProgramma());
    setFont(FontFinestre());
    resize(Px(9600), Px(6000));

    valore_ = Scelta(this, "Cmb_Valore");
    intervallo_ = Scelta(this, "Cmb_Intervallo");
    for (const auto& [testo, durata] : Intervalli()) intervallo_->addItem(testo);
    auto* scelte = new QHBoxLayout;
    scelte->addWidget(new QLabel(QStringLiteral("Valore"), this));
    scelte->addWidget(valore_);
    scelte->addSpacing(Px(240));
    scelte->addWidget(new QLabel(QStringLiteral("Intervallo"), this));
    scelte->addWidget(intervallo_);
    scelte->addStretch();

    grafico_ = new QChart;
    grafico_->legend()->hide();
    auto* vista = new QChartView(grafico_, this);
    vista->setObjectName(QStringLiteral("Grf_Curva"));
    vista->setRenderHint(QPainter::Antialiasing);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(Px(120), Px(120), Px(120), Px(120));
    layout->addLayout(scelte);
    layout->addWidget(vista);
    connect(valore_, &QComboBox::currentIndexChanged, this, [this] { aggiorna(); });
    connect(intervallo_, &QComboBox::currentIndexChanged, this, [this] { aggiorna(); });
}

void TrendWindow::impostaNomi(const std::vector<std::string>& nomi) {
    const QString scelto = valore_->currentText();
    const QSignalBlocker blocco(valore_);
    valore_->clear();
    for (const auto& nome : nomi) valore_->addItem(QString::fromStdString(nome));
    valore_->setCurrentIndex(std::max(0, valore_->findText(scelto)));
}

void TrendWindow::mostra() { MostraInPrimoPiano(*this, [this] { aggiorna(); }); }

void TrendWindow::showEvent(QShowEvent* event) {
    aggiorna();
    QWidget::showEvent(event);
}

void TrendWindow::aggiorna() {
    const auto durata =
        Intervalli()[static_cast<std::size_t>(std::max(0, intervallo_->currentIndex()))].second;
    if (!valore_->count()) {
        disegna(durata, {});
        return;
    }
    lettore_(valore_->currentText().toStdString(), durata,
             [this, durata](const std::vector<HistoryPoint>& punti) { disegna(durata, punti); });
}

// One line per run of values between two gaps, all in one colour.
void TrendWindow::disegna(std::chrono::seconds durata, const std::vector<HistoryPoint>& punti) {
    grafico_->removeAllSeries();
    // The chart gives a removed axis back to its caller.
    for (QAbstractAxis* asse : grafico_->axes()) {
        grafico_->removeAxis(asse);
        delete asse;
    }
    const QDateTime adesso = QDateTime::currentDateTime();
    auto* tempo = new QDateTimeAxis;
    tempo->setFormat(durata > std::chrono::hours(24) ? QStringLiteral("dd/MM HH:mm")
                                                     : QStringLiteral("HH:mm"));
    tempo->setRange(adesso.addSecs(-durata.count()), adesso);
    auto* valori = new QValueAxis;
    grafico_->addAxis(tempo, Qt::AlignBottom);
    grafico_->addAxis(valori, Qt::AlignLeft);

    QLineSeries* linea = nullptr;
    double minimo = 0, massimo = 0;
    bool primo = true;
    for (const HistoryPoint& p : punti) {
        if (!p.valore) {
            linea = nullptr;
            continue;
        }
        if (!linea) {
            linea = new QLineSeries;
            linea->setPointsVisible(true);
            linea->setColor(QColor(0, 0, 160));
            grafico_->addSeries(linea);
            linea->attachAxis(tempo);
            linea->attachAxis(valori);
        }
        linea->append(static_cast<qreal>(Millisecondi(p.quando)), *p.valore);
        minimo = primo ? *p.valore : std::min(minimo, *p.valore);
        massimo = primo ? *p.valore : std::max(massimo, *p.valore);
        primo = false;
    }
    const double margine = massimo > minimo ? (massimo - minimo) / 10 : 1;
    valori->setRange(minimo - margine, massimo + margine);
}

}  // namespace tarvel
