// The desktop program as it runs from its own folder, driven through its
// menus for screenshots: after the automatic start it opens the serial
// monitor, the trend window of the first value, the About box, then stops
// the acquisition and scans nodes 1 to 6 in "Cerca dispositivi". Before
// each picture it prints "SHOT name x y width height" (the window on the
// screen) and holds still for two seconds.

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <cstdio>

#include "about/AboutForm.h"
#include "mainwindow/DesktopApp.h"
#include "mainwindow/DesktopProgram.h"
#include "mainwindow/MainForm.h"
#include "mainwindow/TrendWindow.h"
#include "monitor/MonitorForm.h"
#include "platform/qt/QtProgramIdentity.h"

namespace {

void Snapshot(const char* name, const QWidget& win) {
    const QRect g = win.frameGeometry();
    std::printf("SHOT %s %d %d %d %d\n", name, g.x(), g.y(), g.width(), g.height());
    std::fflush(stdout);
}

void Run(tarvel::DesktopApp& app, const char* action) {
    app.mainForm().findChild<QAction*>(QString::fromLatin1(action))->trigger();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    // Run from a copy beside its settings, as scripts/screenshots.sh does.
    tarvel::DesktopProgram program(tarvel::QtProgramIdentity::executableFolder());
    tarvel::DesktopApp& app = program.app();
    app.start();

    // Splash 1.5 s, automatic start 2 s later: the monitor opens during the
    // acquisition and fills for a few cycles.
    QTimer::singleShot(4500, &app, [&app] {
        Run(app, "MenuMonitor");
        app.monitor().move(app.mainForm().frameGeometry().right() + 12, 0);
    });
    QTimer::singleShot(8000, &app, [&app] { Snapshot("monitor", app.monitor()); });
    QTimer::singleShot(10000, &app, [&app] {
        Run(app, "MenuMonitor");
        Run(app, "MenuGrafico");
        app.mainForm().findChild<tarvel::TrendWindow*>()->move(60, 60);
    });
    QTimer::singleShot(12000, &app,
                       [&app] { Snapshot("grafico", *app.mainForm().findChild<tarvel::TrendWindow*>()); });
    QTimer::singleShot(14000, &app, [&app] {
        app.mainForm().findChild<tarvel::TrendWindow*>()->hide();
        Run(app, "MenuAbout");
        app.about().move(60, 60);
    });
    QTimer::singleShot(15000, &app, [&app] { Snapshot("about", app.about()); });
    QTimer::singleShot(16000, &app, [&app] {
        app.about().close();
        Run(app, "MenuFerma");
    });
    // The item is on once the running cycle has ended.
    QTimer::singleShot(18000, &app, [&app] {
        Run(app, "MenuCercaDispositivi");
        auto* search = app.mainForm().findChild<QWidget*>(QStringLiteral("Frm_CercaDispositivi"));
        search->move(60, 60);
        search->findChild<QSpinBox*>(QStringLiteral("Spn_A"))->setValue(6);
        search->findChild<QPushButton*>(QStringLiteral("Cmd_Avvia"))->click();
    });
    QTimer::singleShot(24000, &app, [&app] {
        Snapshot("cerca",
                 *app.mainForm().findChild<QWidget*>(QStringLiteral("Frm_CercaDispositivi")));
    });
    QTimer::singleShot(26000, &app, [&program] { program.quit(0); });
    return QApplication::exec();
}
