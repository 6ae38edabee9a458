#pragma once
// The window "Cerca dispositivi": a range of nodes, the scan's progress
// with a stop, the devices found with one checkable row per request line,
// and the chosen lines appended to the request list. It shows what it is
// sent and forwards its commands; the scan and the settings file are
// elsewhere (DeviceSearch), on the logic's thread.

#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "app/DeviceSearch.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace tarvel {

class DeviceSearchWindow : public QWidget {
    Q_OBJECT

  public:
    struct Commands {
        std::function<void(int first, int last)> start;
        std::function<void()> stop;  // from this thread, during a scan
        std::function<void(const std::vector<std::vector<std::string>>& linesByDevice)> append;
    };
    explicit DeviceSearchWindow(Commands commands, QWidget* owner = nullptr);

    // Shows the window, or raises it when it is open already.
    void showWindow();
    // While the acquisition runs the line is busy: no scan starts.
    void setAcquiring(bool acquiring);
    bool scanning() const { return scanning_; }

    // What the scan and the list report.
    void showProgress(const ScanProgress& progress);
    void showResult(const DeviceSearch& search);
    void showAppended(const ListAppend& outcome);

  protected:
    // Closing the window stops a running scan.
    void closeEvent(QCloseEvent* event) override;

  private:
    QLayout* createRange();
    QLayout* createButtons();
    void Cmd_Avvia_Click();
    void Cmd_Ferma_Click();
    void Cmd_Aggiungi_Click();
    void addDevice(const FoundDevice& device);
    std::vector<std::vector<std::string>> checkedLines() const;
    void updateControls();

    Commands commands_;
    QSpinBox* first_ = nullptr;
    QSpinBox* last_ = nullptr;
    QPushButton* cmdAvvia_ = nullptr;
    QPushButton* cmdFerma_ = nullptr;
    QPushButton* cmdAggiungi_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* state_ = nullptr;
    QTreeWidget* devices_ = nullptr;
    bool acquiring_ = false;
    bool scanning_ = false;
    bool stopping_ = false;
    bool appending_ = false;
    bool linesToAdd_ = false;
};

}  // namespace tarvel
