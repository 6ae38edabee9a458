#pragma once
// The serial monitor: the request frames and the answers of the line, one
// line per frame, over the Modbus layer's two paired lists. New lines are
// shown in batches on a short timer; a list keeps its last line in view
// unless the user scrolled away from it. With a host the Modbus layer lives
// on the logic's thread: the window shows a copy of its lists, brought up to
// date by queued copies of the new lines, and sends its commands there.

#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "mainwindow/AcquisitionHost.h"
#include "modbus/MBus.h"
#include "platform/Clock.h"

class QListWidget;
class QPushButton;
class QRadioButton;

namespace tarvel {

class MonitorForm : public QWidget {
    Q_OBJECT

  public:
    static constexpr Millis RefreshInterval{50};

    // Without a host the Modbus layer is on the window's thread.
    MonitorForm(MBus& mbus, Clock& clock, AcquisitionHost* host = nullptr);

    // At start-up: lists empty, hidden, not logging, hexadecimal notation.
    void PreparaMonitor();
    // Shows the monitor with empty lists, or hides it.
    void MenuMonitor_Click();
    void setCaption(const std::string& caption);

    void Cmd_Clear_Click();
    void Opt_Notazione_Click(int index);
    void LstAttivita_Click(int index);
    void LstAttivita_DblClick(int index);
    // Brings both lists up to date with the log.
    void refresh();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // What changed in the log since the last copy: all of it after an
    // emptying or a removal, else the new lines.
    struct Changes {
        bool fullReset = false;
        std::vector<std::string> requests, answers;
    };
    // On the logic's thread.
    Changes takeChanges();
    void sendChanges();
    void onLogicThread(std::function<void(MBus&)> command);
    // On the window's thread.
    void applica(const Changes& changes);
    void createControls();
    void reload();
    void append(int index, const std::vector<std::string>& lines);
    void showLast(QListWidget* listWidget);

    MBus& mbus_;
    AcquisitionHost* host_;
    // The logic's side: how much of the log was copied.
    std::size_t requestsSent_ = 0, answersSent_ = 0;
    std::uint64_t resetSent_ = 0;
    // The window's side: the copy it shows.
    MonitorLog copy_;
    std::unique_ptr<Timer> refreshTimer_;
    std::array<QListWidget*, 2> lists_{};
    std::array<QRadioButton*, 2> options_{};
    QPushButton* cmdClear_ = nullptr;
    std::uint64_t versionSeen_ = 0;
    std::uint64_t resetSeen_ = 0;
    bool updating_ = false;
};

}  // namespace tarvel
