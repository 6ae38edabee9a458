#pragma once
// The start-up window: product name, version and legal notice, above every
// other window, until its timer fires (1500 ms), a key is pressed or it is
// clicked. Closing it hands over to the main window's start-up.

#include <QWidget>
#include <memory>

#include "platform/Clock.h"
#include "platform/ProgramIdentity.h"

namespace tarvel {

class SplashForm : public QWidget {
    Q_OBJECT

  public:
    static constexpr Millis Timer1Interval{1500};

    SplashForm(const ProgramIdentity& identity, Clock& clock);

    // The load handler: texts, on top, shown, Timer1 running.
    void Form_Load();
    // The closing routine, on the first of the timer, a key or a click.
    void Close();
    bool timerEnabled() const { return timer1_->enabled(); }

  signals:
    // The main window loads now; the splash unloads when this returns.
    void closing();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    void createControls();

    const ProgramIdentity& identity_;
    std::unique_ptr<Timer> timer1_;
    bool closed_ = false;
};

}  // namespace tarvel
