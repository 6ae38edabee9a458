#include "tray/TrayIcona.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

#include "mainwindow/Widgets.h"
#include "tray/TrayText.h"

namespace tarvel {

TrayIcona::TrayIcona(const ProgramIdentity& identity) : identity_(identity) {}

TrayIcona::~TrayIcona() = default;

void TrayIcona::PreparaTray() {
    CreaMenuTray();
    AggiungiIconaTray();
}

void TrayIcona::CreaMenuTray() {
    menu_ = std::make_unique<QMenu>();
    menu_->setObjectName(QStringLiteral("MenuTray"));
    QAction* apri = menu_->addAction(QString::fromStdString(OpenTrayText()));
    apri->setObjectName(QStringLiteral("MenuTray70"));
    connect(apri, &QAction::triggered, this, &TrayIcona::apriRichiesto);
    menu_->addSeparator()->setObjectName(QStringLiteral("MenuTray71"));
    QAction* fine = menu_->addAction(QString::fromLatin1(QuitTrayText));
    fine->setObjectName(QStringLiteral("MenuTray72"));
    connect(fine, &QAction::triggered, this, &TrayIcona::quitRequested);
}

void TrayIcona::AggiungiIconaTray() {
    icon_ = std::make_unique<QSystemTrayIcon>(ProgramIcon());
    icon_->setToolTip(QString::fromStdString(TrayTipText(identity_)));
    connect(icon_.get(), &QSystemTrayIcon::activated, this, &TrayIcona::notify);
    icon_->show();
}

void TrayIcona::RimuoviIconaTray() {
    if (icon_) icon_->hide();
    icon_.reset();
    menu_.reset();
}

void TrayIcona::MostraMenuTray(const QPoint& posizione) {
    if (menu_) menu_->popup(posizione);
}

void TrayIcona::notify(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) emit apriRichiesto();
    if (reason == QSystemTrayIcon::Context) MostraMenuTray(QCursor::pos());
    emit activated();
}

bool TrayIcona::available() const {
    return available_.value_or(QSystemTrayIcon::isSystemTrayAvailable());
}

void TrayIcona::RiduciInTray(QWidget* finestra, bool riduci) {
    if (riduci && available()) {
        // Hidden first, then marked minimised: a window manager asked to
        // iconify a window that is being unmapped may finish after a later
        // show, and leave the window minimised and unmapped.
        finestra->hide();
        finestra->setWindowState(finestra->windowState() | Qt::WindowMinimized);
    } else if (riduci) {
        finestra->showMinimized();
    } else {
        finestra->setWindowState(finestra->windowState() & ~Qt::WindowMinimized);
        finestra->show();
        finestra->raise();
        finestra->activateWindow();
    }
    finestra->update();
}

}  // namespace tarvel
