#pragma once
// The window "Stato devices": one row per node on the line with the
// health the Modbus layer counted for it, and the wall-clock time of its
// last good answer. It only shows the counters; the counting is elsewhere.

#include <QWidget>

#include "modbus/Health.h"
#include "platform/Clock.h"

class QTableWidget;

namespace tarvel {

class DeviceStatusWindow : public QWidget {
    Q_OBJECT

  public:
    // The clock is the one the counters were stamped with.
    DeviceStatusWindow(const Health& health, const Clock& clock, QWidget* owner = nullptr);

    // Shows the window, or raises it when it is open already, with the
    // counters as they are now.
    void showWindow();
    // Shows the counters as they are now.
    void refresh();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    const Health& health_;
    const Clock& clock_;
    QTableWidget* table_ = nullptr;
};

}  // namespace tarvel
