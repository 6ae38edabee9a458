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
    auto* choice = new QComboBox(area);
    choice->setObjectName(QString::fromLatin1(name));
    choice->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return choice;
}

}  // namespace

const std::vector<std::pair<QString, std::chrono::seconds>>& TrendWindow::Spans() {
    static const std::vector<std::pair<QString, std::chrono::seconds>> intervals{
        {QStringLiteral("1 ora"), std::chrono::hours(1)},
        {QStringLiteral("24 ore"), std::chrono::hours(24)},
        {QStringLiteral("7 giorni"), std::chrono::days(7)}};
    return intervals;
}

TrendWindow::TrendWindow(TrendReader reader, QWidget* owner)
    : QWidget(owner, Qt::Window), reader_(std::move(reader)) {
    setObjectName(QStringLiteral("Frm_Grafico"));
    setWindowTitle(QStringLiteral("Grafico"));
    setWindowIcon(ProgramIcon());
    setFont(WindowFont());
    resize(Px(9600), Px(6000));

    valueBox_ = Choice(this, "Cmb_Valore");
    span_ = Choice(this, "Cmb_Intervallo");
    for (const auto& [text, duration] : Spans()) span_->addItem(text);
    auto* choices = new QHBoxLayout;
    choices->addWidget(new QLabel(QStringLiteral("Valore"), this));
    choices->addWidget(valueBox_);
    choices->addSpacing(Px(240));
    choices->addWidget(new QLabel(QStringLiteral("Intervallo"), this));
    choices->addWidget(span_);
    choices->addStretch();

    trendWindow_ = new QChart;
    trendWindow_->legend()->hide();
    auto* chartView = new QChartView(trendWindow_, this);
    chartView->setObjectName(QStringLiteral("Grf_Curva"));
    chartView->setRenderHint(QPainter::Antialiasing);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(Px(120), Px(120), Px(120), Px(120));
    layout->addLayout(choices);
    layout->addWidget(chartView);
    connect(valueBox_, &QComboBox::currentIndexChanged, this, [this] { refresh(); });
    connect(span_, &QComboBox::currentIndexChanged, this, [this] { refresh(); });
}

void TrendWindow::setNames(const std::vector<std::string>& names) {
    const QString chosen = valueBox_->currentText();
    const QSignalBlocker block(valueBox_);
    valueBox_->clear();
    for (const auto& name : names) valueBox_->addItem(QString::fromStdString(name));
    valueBox_->setCurrentIndex(std::max(0, valueBox_->findText(chosen)));
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
        plot(duration, {});
        return;
    }
    reader_(valueBox_->currentText().toStdString(), duration,
             [this, duration](const std::vector<HistoryPoint>& points) { plot(duration, points); });
}

// One line per run of values between two gaps, all in one colour.
void TrendWindow::plot(std::chrono::seconds duration, const std::vector<HistoryPoint>& points) {
    trendWindow_->removeAllSeries();
    // The chart gives a removed axis back to its caller.
    for (QAbstractAxis* axis : trendWindow_->axes()) {
        trendWindow_->removeAxis(axis);
        delete axis;
    }
    const QDateTime nowTime = QDateTime::currentDateTime();
    auto* tempo = new QDateTimeAxis;
    tempo->setFormat(duration > std::chrono::hours(24) ? QStringLiteral("dd/MM HH:mm")
                                                     : QStringLiteral("HH:mm"));
    tempo->setRange(nowTime.addSecs(-duration.count()), nowTime);
    auto* valueList = new QValueAxis;
    trendWindow_->addAxis(tempo, Qt::AlignBottom);
    trendWindow_->addAxis(valueList, Qt::AlignLeft);

    QLineSeries* linea = nullptr;
    double lowest = 0, highest = 0;
    bool firstOne = true;
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
            linea->attachAxis(valueList);
        }
        linea->append(static_cast<qreal>(Milliseconds(p.when)), *p.value);
        lowest = firstOne ? *p.value : std::min(lowest, *p.value);
        highest = firstOne ? *p.value : std::max(highest, *p.value);
        firstOne = false;
    }
    const double gap = highest > lowest ? (highest - lowest) / 10 : 1;
    valueList->setRange(lowest - gap, highest + gap);
}

}  // namespace tarvel
