#pragma once
// The main window: the request and answer lists, the fields of the request,
// the result, the status lamp, the status bar and the menus. It shows the
// core's state and forwards every command; the work is elsewhere. With a
// host the core lives on the logic's thread: the window keeps the copies it
// is sent (the state, the devices' health, the names of the reads) and
// posts its commands there.

#include <QMainWindow>
#include <array>
#include <atomic>
#include <functional>
#include <memory>

#include "app/MainView.h"
#include "app/Program.h"
#include "mainwindow/AcquisitionHost.h"

class QAction;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;

namespace tarvel {

class TrendWindow;
class DeviceStatusWindow;
class DeviceSearchWindow;

class MainForm : public QMainWindow, public MainView {
    Q_OBJECT

  public:
    // The clock is the program's: the device window turns its times into
    // wall-clock times.
    // Without a host the core is on the window's thread.
    MainForm(Program& program, const Clock& clock, AcquisitionHost* host = nullptr);

    // The copies the core sends before each notification.
    void showWindow(const MainState& status) { status_ = status; }
    void showHealth(const Health& health, std::vector<std::string> names);
    const MainState& status() const { return status_; }

    // What the core reports.
    void captionChanged() override;
    void requestsChanged() override;
    void answersChanged() override;
    void selectionChanged() override;
    void detailsChanged() override;
    void optionsChanged() override;
    void lampChanged() override;
    void acquisitionChanged() override;
    void statusBarChanged() override;
    void monitorCaptionChanged() override;
    void hideSplash() override;
    void riduciInTray(bool minimise) override;
    void settingsReloaded() override;
    void cycleFinished(const CycleReport& cycleReport) override;

    void setAutostartChecked(bool checked);
    void showReloadNotice(bool visibleNow);
    // Shows the whole state at once.
    void refreshAll();

  signals:
    void iniEditRequested();
    void reloadRequested();
    void quitRequested();
    void monitorRequested();
    void autostartRequested();
    void createShortcutRequested();
    void deleteShortcutRequested();
    void aboutRequested();
    void closeRequested();
    void minimiseRequested(bool minimise);
    void splashToHide();
    void monitorCaptionDue();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    QWidget* createControls();
    void createDetails(QWidget* area);
    void createStatusBar(QWidget* area);
    void createMenus();
    void createFileMenu();
    void createAcquisitionMenu();
    void createOptionsMenu();
    QAction* menuItem(QMenu* menu, const char* name, const QString& text,
                  std::function<void()> command, bool checked = false);
    void Lst_Chiamate_Click(int line);
    void showAnswers();
    void MenuDeviceStatus_Click();
    void refreshDeviceStatus();
    void MenuTrend_Click();
    void MenuCercaDispositivi_Click();
    void startSearch(int first, int last);
    void appendFound(const std::vector<std::vector<std::string>>& linesByDevice);
    // Runs a command on the core, on its thread.
    void command(std::function<void(Program&)> action);
    // Runs on the window's thread, from the core's.
    void onWindowThread(std::function<void()> action);

    Program& program_;
    AcquisitionHost* host_;
    MainState status_;
    Health health_;
    std::vector<std::string> names_;
    const Clock& clock_;
    QListWidget* lstChiamate_ = nullptr;
    QListWidget* lstRisposte_ = nullptr;
    std::array<QLabel*, 5> details_{};
    QLabel* labRisultato_ = nullptr;
    QPushButton* cmdLeggi_ = nullptr;
    std::array<QLabel*, 3> lamps_{};
    QLabel* reloadNotice_ = nullptr;
    std::array<QLabel*, 6> panels_{};
    QMenu* menuFile_ = nullptr;
    QMenu* menuAcquisisci_ = nullptr;
    QMenu* menuOpzioni_ = nullptr;
    QAction* menuAcquisisciAuto_ = nullptr;
    QAction* menuKillfileOut_ = nullptr;
    QAction* menuAvvioAuto_ = nullptr;
    QAction* menuMinimizzaPartenza_ = nullptr;
    QAction* menuTrend_ = nullptr;
    QAction* menuCercaDispositivi_ = nullptr;
    DeviceStatusWindow* deviceStatusWindow_ = nullptr;  // made when first opened
    TrendWindow* trendWindow_ = nullptr;                    // made when first opened
    DeviceSearchWindow* deviceSearchWindow_ = nullptr;      // made when first opened
    // The running scan's stop, shared with the logic's thread.
    std::shared_ptr<std::atomic<bool>> searchStop_;
    bool autostartChecked_ = false;
    bool updating_ = false;
};

}  // namespace tarvel
