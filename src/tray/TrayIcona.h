#pragma once
// The icon in the notification area with its two-line tip and its menu
// "Apri Tarvel" / "Fine program", and the hiding of the main window into
// it. Where the desktop has no notification area, hiding minimises the
// window to the task bar instead, so it can always be brought back.

#include <QObject>
#include <QSystemTrayIcon>
#include <memory>
#include <optional>

#include "platform/ProgramIdentity.h"

class QMenu;
class QAction;
class QWidget;

namespace tarvel {

class TrayIcona : public QObject {
    Q_OBJECT

  public:
    explicit TrayIcona(const ProgramIdentity& identity);
    ~TrayIcona() override;

    void PreparaTray();
    void CreaMenuTray();
    void AggiungiIconaTray();
    void RimuoviIconaTray();
    void MostraMenuTray(const QPoint& place);
    void RiduciInTray(QWidget* win, bool minimise);

    // A left press shows the window, a right click opens the menu.
    void notify(QSystemTrayIcon::ActivationReason reason);

    // Asked each time: at log-on the notification area may come after us.
    bool available() const;
    // Fixes the answer, for tests.
    void setAvailable(bool available) { available_ = available; }
    QSystemTrayIcon* icon() const { return icon_.get(); }
    QMenu* menu() const { return menu_.get(); }

  signals:
    void openRequested();
    void quitRequested();
    // After any notification: the main window activates itself.
    void activated();

  private:
    const ProgramIdentity& identity_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    std::unique_ptr<QMenu> menu_;
    std::optional<bool> available_;
};

}  // namespace tarvel
