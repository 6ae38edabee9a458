#pragma once
// The window "Grafico": the curve of one value of the request list over the
// last hour, day or week, from the history; failed reads are gaps, the time
// axis is in local time. It only shows what the history gives.

#include <QWidget>
#include <chrono>
#include <string>
#include <vector>

#include "history/Storico.h"

class QChart;
class QComboBox;

namespace tarvel {

class Grafico : public QWidget {
    Q_OBJECT

  public:
    Grafico(const Storico& storico, QWidget* padre = nullptr);

    // The names to choose from, in the order of the list.
    void impostaNomi(const std::vector<std::string>& nomi);
    // Shows the window, or raises it, with the history as it is now.
    void mostra();
    // Draws the curve again from the history.
    void aggiorna();

    // The spans offered, in the order shown.
    static const std::vector<std::pair<QString, std::chrono::seconds>>& Intervalli();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    const Storico& storico_;
    QComboBox* valore_ = nullptr;
    QComboBox* intervallo_ = nullptr;
    QChart* grafico_ = nullptr;
};

}  // namespace tarvel
