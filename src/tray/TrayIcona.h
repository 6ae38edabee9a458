#pragma once
// The icon in the notification area with its two-line tip and its menu
// "Apri Tarvel" / "Fine programma", and the hiding of the main window into
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
    void MostraMenuTray(const QPoint& posizione);
    void RiduciInTray(QWidget* finestra, bool riduci);

    // A left press shows the window, a right click opens the menu.
    void notifica(QSystemTrayIcon::ActivationReason motivo);

    // Asked each time: at log-on the notification area may come after us.
    bool disponibile() const;
    // Fixes the answer, for tests.
    void setDisponibile(bool disponibile) { disponibile_ = disponibile; }
    QSystemTrayIcon* icona() const { return icona_.get(); }
    QMenu* menu() const { return menu_.get(); }

  signals:
    void apriRichiesto();
    void fineRichiesta();
    // After any notification: the main window activates itself.
    void notificaRicevuta();

  private:
    const ProgramIdentity& identity_;
    std::unique_ptr<QSystemTrayIcon> icona_;
    std::unique_ptr<QMenu> menu_;
    std::optional<bool> disponibile_;
};

}  // namespace tarvel
