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
    QAction* openOutput = menu_->addAction(QString::fromStdString(OpenTrayText()));
    openOutput->setObjectName(QStringLiteral("MenuTray70"));
    connect(openOutput, &QAction::triggered, this, &TrayIcona::openRequested);
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

void TrayIcona::MostraMenuTray(const QPoint& place) {
    if (menu_) menu_->popup(place);
}

void TrayIcona::notify(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) emit openRequested();
    if (reason == QSystemTrayIcon::Context) MostraMenuTray(QCursor::pos());
    emit activated();
}

bool TrayIcona::available() const {
    return available_.value_or(QSystemTrayIcon::isSystemTrayAvailable());
}

void TrayIcona::RiduciInTray(QWidget* win, bool minimise) {
    if (minimise && available()) {
        // Hidden first, then marked minimised: a window manager asked to
        // iconify a window that is being unmapped may finish after a later
        // show, and leave the window minimised and unmapped.
        win->hide();
        win->setWindowState(win->windowState() | Qt::WindowMinimized);
    } else if (minimise) {
        win->showMinimized();
    } else {
        win->setWindowState(win->windowState() & ~Qt::WindowMinimized);
        win->show();
        win->raise();
        win->activateWindow();
    }
    win->update();
}

}  // namespace tarvel
