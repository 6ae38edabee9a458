#pragma once
// The window "TrendWindow": the curve of one value of the request list over the
// last hour, day or week, from the history; failed reads are gaps, the time
// axis is in local time. It only shows what the history gives, which it asks
// for through a reader: the history belongs to the core's thread.

#include <QWidget>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "history/History.h"

class QChart;
class QComboBox;

namespace tarvel {

// Reads the points of a name over a span and hands them to `answer`, at
// once or later, on the window's thread.
using TrendReader =
    std::function<void(const std::string& name, std::chrono::seconds duration,
                       std::function<void(const std::vector<HistoryPoint>&)> answer)>;

class TrendWindow : public QWidget {
    Q_OBJECT

  public:
    explicit TrendWindow(TrendReader reader, QWidget* owner = nullptr);

    // The names to choose from, in the order of the list.
    void setNames(const std::vector<std::string>& names);
    // Shows the window, or raises it, with the history as it is now.
    void showWindow();
    // Draws the curve again from the history.
    void refresh();

    // The spans offered, in the order shown.
    static const std::vector<std::pair<QString, std::chrono::seconds>>& Spans();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void plot(std::chrono::seconds duration, const std::vector<HistoryPoint>& points);

    TrendReader reader_;
    QComboBox* valueBox_ = nullptr;
    QComboBox* span_ = nullptr;
    QChart* trendWindow_ = nullptr;
};

}  // namespace tarvel
