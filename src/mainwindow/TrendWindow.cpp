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

qint64 Milliseconds(WallTime when) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
}

QComboBox* Choice(QWidget* area, const char* name) {
    auto* scelta = new QComboBox(area);
    scelta->setObjectName(QString::fromLatin1(name));
    scelta->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return scelta;
}

}  // namespace

const std::vector<std::pair<QString, std::chrono::seconds>>& TrendWindow::Spans() {
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
    setWindowIcon(ProgramIcon());
    setFont(WindowFont());
    resize(Px(9600), Px(6000));

    valueBox_ = Choice(this, "Cmb_Valore");
    span_ = Choice(this, "Cmb_Intervallo");
    for (const auto& [text, duration] : Spans()) span_->addItem(text);
    auto* scelte = new QHBoxLayout;
    scelte->addWidget(new QLabel(QStringLiteral("Valore"), this));
    scelte->addWidget(valueBox_);
    scelte->addSpacing(Px(240));
    scelte->addWidget(new QLabel(QStringLiteral("Intervallo"), this));
    scelte->addWidget(span_);
    scelte->addStretch();

    trendWindow_ = new QChart;
    trendWindow_->legend()->hide();
    auto* vista = new QChartView(trendWindow_, this);
    vista->setObjectName(QStringLiteral("Grf_Curva"));
    vista->setRenderHint(QPainter::Antialiasing);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(Px(120), Px(120), Px(120), Px(120));
    layout->addLayout(scelte);
    layout->addWidget(vista);
    connect(valueBox_, &QComboBox::currentIndexChanged, this, [this] { refresh(); });
    connect(span_, &QComboBox::currentIndexChanged, this, [this] { refresh(); });
}

void TrendWindow::setNames(const std::vector<std::string>& nomi) {
    const QString scelto = valueBox_->currentText();
    const QSignalBlocker block(valueBox_);
    valueBox_->clear();
    for (const auto& name : nomi) valueBox_->addItem(QString::fromStdString(name));
    valueBox_->setCurrentIndex(std::max(0, valueBox_->findText(scelto)));
}

void TrendWindow::showWindow() { ShowInFront(*this, [this] { refresh(); }); }

void TrendWindow::showEvent(QShowEvent* event) {
    refresh();
    QWidget::showEvent(event);
}

void TrendWindow::refresh() {
    const auto duration =
        Spans()[static_cast<std::size_t>(std::max(0, span_->currentIndex()))].second;
    if (!valueBox_->count()) {
        disegna(duration, {});
        return;
    }
    lettore_(valueBox_->currentText().toStdString(), duration,
             [this, duration](const std::vector<HistoryPoint>& points) { disegna(duration, points); });
}

// One line per run of values between two gaps, all in one colour.
void TrendWindow::disegna(std::chrono::seconds duration, const std::vector<HistoryPoint>& points) {
    trendWindow_->removeAllSeries();
    // The chart gives a removed axis back to its caller.
    for (QAbstractAxis* asse : trendWindow_->axes()) {
        trendWindow_->removeAxis(asse);
        delete asse;
    }
    const QDateTime adesso = QDateTime::currentDateTime();
    auto* tempo = new QDateTimeAxis;
    tempo->setFormat(duration > std::chrono::hours(24) ? QStringLiteral("dd/MM HH:mm")
                                                     : QStringLiteral("HH:mm"));
    tempo->setRange(adesso.addSecs(-duration.count()), adesso);
    auto* valori = new QValueAxis;
    trendWindow_->addAxis(tempo, Qt::AlignBottom);
    trendWindow_->addAxis(valori, Qt::AlignLeft);

    QLineSeries* linea = nullptr;
    double minimo = 0, massimo = 0;
    bool primo = true;
    for (const HistoryPoint& p : points) {
        if (!p.value) {
            linea = nullptr;
            continue;
        }
        if (!linea) {
            linea = new QLineSeries;
            linea->setPointsVisible(true);
            linea->setColor(QColor(0, 0, 160));
            trendWindow_->addSeries(linea);
            linea->attachAxis(tempo);
            linea->attachAxis(valori);
        }
        linea->append(static_cast<qreal>(Milliseconds(p.when)), *p.value);
        minimo = primo ? *p.value : std::min(minimo, *p.value);
        massimo = primo ? *p.value : std::max(massimo, *p.value);
        primo = false;
    }
    const double margine = massimo > minimo ? (massimo - minimo) / 10 : 1;
    valori->setRange(minimo - margine, massimo + margine);
}

}  // namespace tarvel
