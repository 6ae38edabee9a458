#include "about/SplashForm.h"

#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QScreen>

#include "Product.h"
#include "about/Version.h"
#include "mainwindow/Widgets.h"

namespace tarvel {
namespace {

QPixmap ThreeLamps() {
    QPixmap pixmap(84, 24);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    for (int i = 0; i < 3; ++i)
        p.drawPixmap(i * 30, 0, DrawLamp(LampColour(LampsLit[i]), 24));
    return pixmap;
}

}  // namespace

SplashForm::SplashForm(const ProgramIdentity& identity, Clock& clock)
    : identity_(identity), timer1_(clock.createTimer()) {
    setObjectName(QStringLiteral("Frm_Splash"));
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setWindowIcon(ProgramIcon());
    setFont(WindowFont());
    setFixedSize(420, 200);
    setFocusPolicy(Qt::StrongFocus);
    createControls();
    FitTexts(*this);
    timer1_->setInterval(Timer1Interval);
    timer1_->onTimeout([this] { Close(); });
}

void SplashForm::createControls() {
    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("Frame1"));
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    frame->setGeometry(6, 6, 408, 188);
    Label(frame, "ImgSplash0", QString(), QRect(18, 22, 64, 64))->setPixmap(DrawIcon(64));
    Label(frame, "ImgSplash1", QString(), QRect(10, 120, 84, 24))->setPixmap(ThreeLamps());
    QLabel* name = Label(frame, "lblProductName", QString(), QRect(104, 18, 290, 48));
    QFont bigFont = name->font();
    bigFont.setPointSize(bigFont.pointSize() + 14);
    bigFont.setBold(true);
    name->setFont(bigFont);
    Label(frame, "lblVersion", QStringLiteral("Versione X.XX"), QRect(106, 70, 290, 20));
    Label(frame, "Lab_copy", QString(), QRect(106, 150, 290, 20));
}

void SplashForm::Form_Load() {
    findChild<QLabel*>(QStringLiteral("lblProductName"))
        ->setText(QString::fromLatin1(ProductName));
    findChild<QLabel*>(QStringLiteral("lblVersion"))
        ->setText(QString::fromStdString(VersionText(identity_)));
    findChild<QLabel*>(QStringLiteral("Lab_copy"))
        ->setText(QString::fromStdString(identity_.copyright()));
    if (const QScreen* display = screen())
        move(display->availableGeometry().center() - rect().center());
    show();
    raise();
    activateWindow();
    setFocus();
    repaint();
    timer1_->setEnabled(true);
}

void SplashForm::Close() {
    // A key or a click during the start-up must not start it again.
    if (closed_) return;
    closed_ = true;
    timer1_->setEnabled(false);
    emit closing();
    hide();
}

void SplashForm::keyPressEvent(QKeyEvent*) { Close(); }
void SplashForm::mousePressEvent(QMouseEvent*) { Close(); }

}  // namespace tarvel
