// The desktop windows on Qt's offscreen platform, over the core with fakes:
// each window shows the core's state and forwards its commands; the rules
// behind the commands are tested on the core. The base is the program on
// the plant of two lines that both answer; with a history, the program
// lives in a scratch folder with the history store and the system's
// calendar time.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLabel>
#include <QLineSeries>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>
#include <sstream>

#include "Broker.h"
#include "Plant.h"
#include "SimProcess.h"
#include "SqliteTool.h"
#include "TempFolder.h"
#include "about/AboutForm.h"
#include "about/SplashForm.h"
#include "mainwindow/DesktopApp.h"
#include "mainwindow/DesktopPlatform.h"
#include "mainwindow/DeviceStatusWindow.h"
#include "mainwindow/MainForm.h"
#include "mainwindow/TrendWindow.h"
#include "mainwindow/Widgets.h"
#include "monitor/MonitorForm.h"
#include "platform/posix/SystemWallClock.h"
#include "platform/posix/WakeUp.h"
#include "platform/qt/ConsoleClock.h"
#include "platform/qt/WorkerThread.h"
#include "platform/qtgui/QtDialogs.h"
#include "platform/qtgui/QtTranslation.h"
#include "platform/sqlite/SqliteHistoryStore.h"
#include "tray/TrayIcona.h"

namespace tarvel {
namespace {

using test::Sqlite;
using test::TempFolder;
using ::testing::_;
using ::testing::AllOf;
using ::testing::AnyOf;
using ::testing::ElementsAre;
using ::testing::Ge;
using ::testing::Le;
using ::testing::Pair;

struct IstanzaLibera : ProgramInstance {
    bool acquire() override { return true; }
};

class Postazione : public ::testing::Test {
  protected:
    explicit Postazione(bool historyLog = false) : history_(historyLog) { impianto.dueRighe(); }

    fakes::FakePlatform& p() { return impianto.fp; }
    MainForm& main() { return app.mainForm(); }
    template <typename T = QLabel>
    T* control(const char* name, QWidget* win = nullptr) {
        auto* c = (win ? win : &main())->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    QAction* action(const char* name) { return control<QAction>(name); }
    // The splash, then its timer, then the start-up.
    void start() {
        app.start();
        p().clock.advance(SplashForm::Timer1Interval);
        ASSERT_TRUE(main().isVisible());
    }

  private:
    // The program folder is taken when the program is made.
    Platform platform() {
        if (!history_) return impianto.fp.platform();
        impianto.fp.identity.folder = folder.path().string();
        return impianto.fp.platform(nullptr, nullptr, &store, &wall);
    }
    bool history_;

  protected:
    TempFolder folder;
    SqliteHistoryStore store;
    SystemWallClock wall;
    fakes::Impianto impianto;
    IstanzaLibera programInstance;
    std::vector<int> fine;  // the program's exit codes
    DesktopApp app{platform(), impianto.fp.shell, programInstance,
                     [this](int code) { fine.push_back(code); }};
};

using WindowsTest = Postazione;

void Clic(QWidget* control) { QTest::mouseClick(control, Qt::LeftButton); }

// The splash until a key (for its time: start()), once; the About box
// disables the main window until it closes (its close box acts as OK); then
// a line read by hand, the menus during a cycle, the editor, and the trend's
// menu item off without a history.
TEST_F(WindowsTest, TheMainWindowShowsTheCoreAndForwardsItsCommands) {
    app.start();
    p().clock.advance(Millis(1499));
    EXPECT_TRUE(app.splash().isVisible() && !main().isVisible());
    QTest::keyClick(&app.splash(), Qt::Key_Space);
    EXPECT_TRUE(!app.splash().isVisible() && main().isVisible());
    const auto readings = p().ini.reads;
    p().clock.advance(Millis(5000));
    EXPECT_EQ(p().ini.reads, readings) << "the splash's timer never fires after the key";

    action("MenuAbout")->trigger();
    EXPECT_TRUE(app.about().isVisible() && !main().isEnabled());
    Clic(control("Lab_EMail", &app.about()));  // checked below
    app.about().close();
    EXPECT_TRUE(!app.about().isVisible() && main().isEnabled());
    action("MenuAbout")->trigger();
    Clic(control<QPushButton>("cmdOK", &app.about()));
    EXPECT_TRUE(!app.about().isVisible() && main().isEnabled());

    control<QListWidget>("Lst_Chiamate")->setCurrentRow(1);
    EXPECT_EQ(control("LabDescrizione")->text(), "Tensione");
    Clic(control<QPushButton>("Cmd_Leggi"));
    EXPECT_EQ(control("LabRisultato")->text(), "<Tensione>230.1</Tensione>");

    // File, Options, Automatica and Leggi.
    const auto abilitati = [&] {
        std::string status;
        for (const char* menu : {"MenuFile", "MenuOpzioni"})
            status += control<QMenu>(menu)->menuAction()->isEnabled() ? '1' : '0';
        return status + (action("MenuAcquisisciAuto")->isEnabled() ? '1' : '0') +
               (control<QPushButton>("Cmd_Leggi")->isEnabled() ? '1' : '0');
    };
    std::string duranteCiclo;
    p().port.setDevice([&](const Bytes& request) {
        duranteCiclo = abilitati();
        return impianto.device(request);
    });
    action("MenuAvvio")->trigger();
    EXPECT_EQ(duranteCiclo, "0000");
    EXPECT_EQ(control<QListWidget>("Lst_Risposte")->count(), 2);
    action("MenuFerma")->trigger();
    EXPECT_EQ(abilitati(), "1111");

    p().shell.works = false;
    action("MenuEdita")->trigger();
    EXPECT_THAT(
        p().shell.calls,
        ElementsAre("openMailLink mailto:info@tarvel.example?subject=Richiesta informazioni",
                    "openInEditor /opt/tarvel/Tarvel.INI"));
    EXPECT_TRUE(p().dialogs.messages.empty()) << "a failed editor shows nothing";
    EXPECT_FALSE(action("MenuGrafico")->isEnabled());
}

// Each option menu reaches the core, and its check mark follows the core
// (what the core writes: SettingsTest).
TEST_F(WindowsTest, OptionMenusForwardAndShowTheirCheckMarks) {
    p().ini.set("Export", "Kill", "1");
    app.tray().setAvailable(true);
    start();
    EXPECT_TRUE(action("MenuKillfileOut")->isChecked());
    for (const auto& [menuItem, checked] : {std::pair{"MenuKillfileOut", false},
                                       {"MenuMinimizzaPartenza", true},
                                       {"MenuAcquisisciAuto", true}}) {
        action(menuItem)->trigger();
        EXPECT_EQ(action(menuItem)->isChecked(), checked) << menuItem;
    }
    EXPECT_FALSE(main().isVisible()) << "started hidden";
    p().dialogs.typed = "Tetto";
    action("MenuTitoloGenerale")->trigger();
    EXPECT_EQ(main().windowTitle(), "Tarvel [Tetto]");
}

// A close request while acquiring hides the window and the monitor without
// asking; while idle it asks, and the tray menu ends the program.
TEST_F(WindowsTest, CloseRequestHidesWhileAcquiringAndAsksWhileIdle) {
    start();
    action("MenuMonitor")->trigger();
    ASSERT_TRUE(app.monitor().isVisible());
    action("MenuAvvio")->trigger();
    main().close();
    EXPECT_TRUE(!main().isVisible() || main().isMinimized());
    EXPECT_FALSE(app.monitor().isVisible());
    EXPECT_TRUE(p().dialogs.messages.empty() && fine.empty());

    // Back from the tray by a left click on the icon.
    app.tray().notify(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(main().isVisible() && !main().isMinimized());
    action("MenuFerma")->trigger();

    ASSERT_NE(app.tray().menu(), nullptr);
    const auto entries = app.tray().menu()->actions();
    ASSERT_EQ(entries.size(), 3);

    p().dialogs.answer = Answer::No;
    main().close();
    EXPECT_EQ(p().dialogs.messages.size(), 1u) << "the exit question (its text: StartupTest)";
    EXPECT_TRUE(main().isVisible());

    app.tray().notify(QSystemTrayIcon::Context);  // right click: the menu
    EXPECT_TRUE(app.tray().menu()->isVisible());
    app.tray().menu()->hide();

    app.tray().setAvailable(true);
    app.RiduciInTray(true);
    EXPECT_FALSE(main().isVisible());
    app.tray().notify(QSystemTrayIcon::DoubleClick);
    EXPECT_FALSE(main().isVisible()) << "a double-click acts through its first press only";
    entries[0]->trigger();  // "Apri Tarvel"
    EXPECT_TRUE(main().isVisible());

    entries[2]->trigger();  // "Fine program", No
    EXPECT_TRUE(fine.empty());
    p().dialogs.answer = Answer::Yes;
    entries[2]->trigger();
    EXPECT_THAT(fine, ElementsAre(0));
    EXPECT_FALSE(p().port.isOpen());
}

// Under X with a window manager (the script beside this test runs it under
// several): a left click on the tray icon gives the hidden window back,
// mapped and not minimised, at the first click, every time.
TEST_F(WindowsTest, TheTrayGivesTheWindowBackEveryTime) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server with a window manager";
    app.tray().setAvailable(true);
    start();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main()));
    for (int volta = 0; volta < 10; ++volta) {
        app.RiduciInTray(true);
        QTest::qWait(100);
        app.tray().notify(QSystemTrayIcon::Trigger);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&main(), 3000)) << "click " << volta;
        QTest::qWait(100);
        EXPECT_TRUE(main().windowHandle()->isExposed() && !main().isMinimized()) << volta;
    }
}

TEST_F(WindowsTest, WithoutANotificationAreaTheWindowGoesToTheTaskBar) {
    app.tray().setAvailable(false);
    p().ini.set("Start", "Min", "1");
    start();
    EXPECT_TRUE(main().isMinimized());
    app.tray().notify(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(main().isMinimized());
}

// The boxes, and whether each was shown by the window's thread.
struct BoxesSeen : fakes::FakeDialogs {
    Answer messageBox(const std::string& title, const std::string& text, Icon icon, Buttons buttons,
                      Answer defaultButton, const std::string& details) override {
        onWindowThread.push_back(QThread::currentThread() == qApp->thread());
        return FakeDialogs::messageBox(title, text, icon, buttons, defaultButton, details);
    }
    std::vector<bool> onWindowThread;
};

// The desktop program as it runs: the core on its worker thread, on the
// real clock with the wake-up; the windows on this thread see only what it
// reports. A wait line of ten seconds: the window answers all through it.
class CoreOnItsThread : public ::testing::Test {
  protected:
    CoreOnItsThread() {
        impianto.requests({"1,3,0,0;Valore", "SLEEP 10000", "1,3,0,0;Valore"});
        impianto.profile(0);
        impianto.device.values[{3, 0}] = 42;
        clock.watch(wakeUp.fd(), [this] {
            wakeUp.drain();
            return true;
        });
    }
    MainForm& main() { return app.mainForm(); }
    const MainState& status() { return main().status(); }
    static bool aspetta(const std::function<bool()>& condizione) {
        return QTest::qWaitFor(condizione, 30000);
    }
    void avviaCiclo() {
        main().findChild<QAction*>("MenuAvvio")->trigger();
        ASSERT_TRUE(aspetta([&] { return status().lamp == Lamp::Yellow; }))
            << "inside the wait line";
    }

    fakes::Impianto impianto;
    BoxesSeen boxes;
    WakeUp wakeUp;
    ConsoleClock clock;
    WorkerThread worker;
    IstanzaLibera programInstance;
    std::vector<int> fine;
    Platform p = impianto.fp.platform();
    DesktopApp app{{p.ini, clock, boxes, p.identity, p.port, p.files},
                     impianto.fp.shell,
                     programInstance,
                     [this](int code) { fine.push_back(code); },
                     &worker,
                     [this] {
                         app.program().InterruptWait();
                         wakeUp.signal();
                     }};
};

// Menus and the About box during the wait; a stop lets the wait line end
// and the output is written with the answers so far, which the monitor
// showed; exit ends the next wait at once.
TEST_F(CoreOnItsThread, TheWindowAnswersDuringAWaitAndStopAndExitKeepTheirRules) {
    app.start();
    QTest::keyClick(&app.splash(), Qt::Key_Space);
    ASSERT_TRUE(aspetta([&] { return main().isVisible(); }));
    // The window learns that the start-up is over: "Startup Automatico" acts.
    ASSERT_TRUE(aspetta([&] { return !status().avvioInCorso; }));
    main().findChild<QAction*>("MenuAvvioAuto")->trigger();
    EXPECT_EQ(impianto.fp.shell.autostart.count("Tarvel"), 1u);
    main().findChild<QAction*>("MenuMonitor")->trigger();
    avviaCiclo();

    main().findChild<QAction*>("MenuAbout")->trigger();
    EXPECT_TRUE(app.about().isVisible() && !main().isEnabled());
    app.about().close();
    EXPECT_TRUE(main().isEnabled());
    auto* menu = main().findChild<QMenu*>("MenuAcquisisci");
    menu->popup(main().mapToGlobal(QPoint(0, 0)));
    EXPECT_TRUE(menu->isVisible());
    menu->hide();
    EXPECT_EQ(status().lamp, Lamp::Yellow) << "all of it while the core waits";

    main().findChild<QAction*>("MenuFerma")->trigger();
    ASSERT_TRUE(aspetta([&] { return !status().cycleRunning; }));
    EXPECT_THAT(status().answers, ElementsAre("<Valore>42</Valore>", "#Sleep 10000"));
    EXPECT_NE(impianto.fp.files.files["/opt/tarvel/NoName.xml"].find("<Valore>42</Valore>"),
              std::string::npos);
    EXPECT_EQ(main().findChild<QListWidget*>("Lst_Risposte")->count(), 2);
    const auto line = [&](int listWidget) {
        auto* l = app.monitor().findChild<QListWidget*>(QStringLiteral("LstAttivita%1").arg(listWidget));
        return l->count() == 1 ? l->item(0)->text().toStdString() : std::string();
    };
    ASSERT_TRUE(aspetta([&] { return !line(1).empty(); }));
    EXPECT_EQ(line(0), "01 03 00 00 00 01 84 0A");
    EXPECT_EQ(line(1), "01 03 02 00 2A 39 9B");

    avviaCiclo();
    boxes.answer = Answer::Yes;
    app.ConfermaUscita();
    EXPECT_THAT(fine, ElementsAre(0));
    EXPECT_FALSE(impianto.fp.port.isOpen());
}

// A box the core raises is shown by the window's thread, and the core goes
// on only once it is answered: here a port that cannot open ends the start.
TEST_F(CoreOnItsThread, TheCoresBoxesAreShownByTheWindowsThread) {
    impianto.fp.port.missingPorts = {1};
    app.start();
    QTest::keyClick(&app.splash(), Qt::Key_Space);
    ASSERT_TRUE(aspetta([&] { return !fine.empty(); }));
    EXPECT_THAT(fine, ElementsAre(1));
    ASSERT_EQ(boxes.messages.size(), 1u);
    EXPECT_EQ(boxes.messages[0].text, "Errore nell'impostazione della porta seriale.");
    EXPECT_THAT(boxes.onWindowThread, ElementsAre(true));
}

// "Cerca dispositivi" on the desktop program as it runs (the core on its
// thread, the real port, clock and settings file) against the simulator on
// a pseudo-terminal: a device without lines and a SunSpec inverter.
class SearchOnTheSimulator : public ::testing::Test {
  protected:
    SearchOnTheSimulator() {
        EXPECT_TRUE(
            sim.start("node 1\ninput 0 2301\nnode 5\nsunspec inverter\n"
                      "ident Tarvel Sim | SIM-INV-103 | 1.0.3\n"));
    }
    QWidget& search() { return *app.mainForm().findChild<QWidget*>("Frm_CercaDispositivi"); }
    template <typename T>
    T* control(const char* name) {
        return search().findChild<T*>(QString::fromLatin1(name));
    }
    std::string state() { return control<QLabel>("Lab_Stato")->text().toStdString(); }
    // Scans nodes first to last from the window; `during` runs once the
    // scan has asked `nodes` of them.
    void scan(int first, int last, int nodes = 0, const std::function<void()>& during = {}) {
        control<QSpinBox>("Spn_Da")->setValue(first);
        control<QSpinBox>("Spn_A")->setValue(last);
        Clic(control<QPushButton>("Cmd_Avvia"));
        EXPECT_TRUE(control<QPushButton>("Cmd_Ferma")->isEnabled());
        EXPECT_FALSE(control<QPushButton>("Cmd_Avvia")->isEnabled());
        if (during) {
            ASSERT_TRUE(QTest::qWaitFor(
                [&] { return control<QProgressBar>("Prb_Avanzamento")->value() >= nodes; }, 30000));
            during();
        }
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return control<QPushButton>("Cmd_Avvia")->isEnabled(); }, 60000))
            << state();
    }

    test::SimProcess sim;
    TempFolder folder;
    const std::string iniText =
        "[Ports]\nCOM1=" + sim.link() +
        "\n[Serial_0]\nCOM=1\nSettings=9600,N,8,1\nRetry=1\nTimeOut=100\n"
        "[Parameters]\nFirt=1\nLast=2\nInterval=1000\n001=1,4,0,1;Tensione\n002=REM dopo\n"
        "[Export]\nOut=out.xml\n";
    // The file is there before the program is made.
    const bool written = (test::WriteFile(folder / "Tarvel.INI", iniText), true);
    DesktopPlatform dp{folder.path().string()};
    BoxesSeen boxes;
    WorkerThread worker;
    IstanzaLibera programInstance;
    std::vector<int> fine;
    DesktopApp app{{dp.ini, dp.clock, boxes, dp.identity, dp.port, dp.files, nullptr, nullptr,
                    nullptr, &dp.wall, &dp.workers, &dp.web},
                   dp.shell,
                   programInstance,
                   [this](int code) { fine.push_back(code); },
                   &worker,
                   [this] {
                       app.program().InterruptWait();
                       dp.wakeUp.signal();
                   }};
};

// The scan reaches its last node and lists the devices, a row per line,
// checked; one row unchecked, the others become new keys after the list's
// last line (NEXT first, as the list ends with a read), Last moves, every
// other byte stays, and the list reloads. A stop ends a wide scan early;
// while acquiring, the menu item is off.
TEST_F(SearchOnTheSimulator, FindsAppendsTheCheckedLinesAndStops) {
    app.start();
    QTest::keyClick(&app.splash(), Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !app.mainForm().status().avvioInCorso; }, 10000));
    app.mainForm().findChild<QAction*>("MenuCercaDispositivi")->trigger();
    ASSERT_TRUE(search().isVisible());
    scan(1, 6);
    EXPECT_EQ(state(), "Ricerca finita: 2 dispositivi");
    auto* bar = control<QProgressBar>("Prb_Avanzamento");
    EXPECT_EQ(bar->value(), 6);
    EXPECT_EQ(bar->maximum(), 6);
    auto* tree = control<QTreeWidget>("Tre_Dispositivi");
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_EQ(tree->topLevelItem(0)->text(0).toStdString(),
              "Nodo 1: identificazione non disponibile; nessuna mappa SunSpec");
    EXPECT_EQ(tree->topLevelItem(0)->child(0)->text(0), "(nessuna riga)");
    QTreeWidgetItem* inverter = tree->topLevelItem(1);
    EXPECT_EQ(inverter->text(0).toStdString(),
              "Nodo 5: Tarvel Sim SIM-INV-103 1.0.3; "
              "SunSpec a 40000: 1 common, 103 inverter, three phase, 120 nameplate");
    ASSERT_GT(inverter->childCount(), 10);
    std::string added = "003=NEXT\r\n";
    int number = 3;
    for (int r = 0; r < inverter->childCount(); ++r) {
        EXPECT_EQ(inverter->child(r)->checkState(0), Qt::Checked);
        if (r == 1) continue;
        added += QStringLiteral("%1=").arg(++number, 3, 10, QLatin1Char('0')).toStdString() +
                 inverter->child(r)->text(0).toStdString() + "\r\n";
    }
    inverter->child(1)->setCheckState(0, Qt::Unchecked);
    Clic(control<QPushButton>("Cmd_Aggiungi"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return state().starts_with("Aggiunte"); }, 10000)) << state();
    std::string expected = iniText;
    expected.replace(expected.find("Last=2\n"), 7, "Last=" + std::to_string(number) + "\n");
    expected.insert(expected.find("[Export]"), added);
    EXPECT_EQ(test::ReadFile(folder / "Tarvel.INI"), expected);
    auto* list = app.mainForm().findChild<QListWidget*>("Lst_Chiamate");
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->count() == number - 1; }, 10000));
    EXPECT_EQ(list->item(1)->text(), "NEXT");
    EXPECT_EQ(list->item(2)->text(), inverter->child(0)->text(0));
    EXPECT_FALSE(control<QPushButton>("Cmd_Aggiungi")->isEnabled()) << "added once";

    scan(1, 247, 7, [&] { Clic(control<QPushButton>("Cmd_Ferma")); });
    EXPECT_EQ(state(), "Ricerca interrotta: 2 dispositivi");
    EXPECT_LT(bar->value(), 247);

    search().close();
    app.mainForm().findChild<QAction*>("MenuAvvio")->trigger();
    auto* item = app.mainForm().findChild<QAction*>("MenuCercaDispositivi");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !item->isEnabled(); }, 10000));
    EXPECT_EQ(item->toolTip(), "Ferma l'acquisizione per cercare i dispositivi");
    app.mainForm().findChild<QAction*>("MenuFerma")->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return item->isEnabled(); }, 10000));
    EXPECT_TRUE(boxes.messages.empty());
}

// A loopback connection to the port that has sent `request` and read until
// `awaited` came; -1 when it could not.
int HeldHttp(int port, const std::string& request, const std::string& awaited) {
    auto [fd, address] = test::Loopback(port);
    std::string seen;
    char buffer[4096];
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size()))
        while (seen.find(awaited) == std::string::npos) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            seen.append(buffer, std::size_t(n));
        }
    if (seen.find(awaited) != std::string::npos) return fd;
    ::close(fd);
    return -1;
}

// The desktop program serves [Web] too, and its end (here Esci) stops the
// server before the core goes: the clients' connections are closed and the
// port is free for a new listener at once.
TEST_F(SearchOnTheSimulator, TheWebPageIsServedAndTheEndClosesIt) {
    const int port = test::FreePort();
    test::WriteFile(folder / "Tarvel.INI", iniText + "[Web]\nPort=" + std::to_string(port) + "\n");
    app.start();
    QTest::keyClick(&app.splash(), Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !app.mainForm().status().avvioInCorso; }, 10000));
    app.mainForm().findChild<QAction*>("MenuAvvio")->trigger();
    const std::string get = " HTTP/1.1\r\nHost: x\r\n\r\n";
    int idle = -1;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return (idle = HeldHttp(port, "GET /api/values" + get, "\"Tensione\": 230.1")) >= 0;
        },
        30000));
    const int events = HeldHttp(port, "GET /api/events" + get, "data: ");
    EXPECT_GE(events, 0);
    boxes.answer = Answer::Yes;
    app.ConfermaUscita();
    EXPECT_THAT(fine, ElementsAre(0));
    char buffer[4096];
    for (const int fd : {idle, events}) {
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
                return n == 0 || (n < 0 && errno == ECONNRESET);
            },
            30000))
            << "closed by the server";
        ::close(fd);
    }
    EXPECT_FALSE(test::Accepts(port));
    auto [listener, address] = test::Loopback(port);
    const int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    EXPECT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
        << std::strerror(errno);
    ::close(listener);
}

// With Parallel=1 the desktop program polls each port on a worker of its
// own: the monitor marks every frame with its port.
TEST_F(SearchOnTheSimulator, PortsArePolledInParallelWhenTheListSaysSo) {
    test::SimProcess gateway;
    ASSERT_TRUE(gateway.start("node 1\ninput 0 500\n", {"--tcp", "0"}));
    test::WriteFile(folder / "Tarvel.INI",
                    "[Ports]\nCOM1=" + sim.link() + "\nCOM2=mbtcp://" + gateway.address("tcp") +
                        "\n[Serial_0]\nCOM=1\nSettings=9600,N,8,1\nTimeOut=100\n"
                        "[Serial_1]\nCOM=2\nSettings=9600,N,8,1\nTimeOut=100\n"
                        "[Parameters]\nFirt=1\nLast=3\nInterval=1000\nParallel=1\n"
                        "001=1,4,0,1;Tensione\n002=SERIAL_1\n003=1,4,0,0;Potenza\n");
    app.start();
    QTest::keyClick(&app.splash(), Qt::Key_Space);
    QTest::keyClick(&app.splash(), Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return app.mainForm().isVisible() && !app.mainForm().status().avvioInCorso; }, 10000));
    app.mainForm().findChild<QAction*>("MenuMonitor")->trigger();
    app.mainForm().findChild<QAction*>("MenuAvvio")->trigger();
    auto* requests = app.monitor().findChild<QListWidget*>("LstAttivita0");
    const auto sent = [&](const char* pattern) {
        return !requests->findItems(QString::fromLatin1(pattern), Qt::MatchRegularExpression).isEmpty();
    };
    // The serial frame, and the Modbus TCP one after its transaction number.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return sent("^COM1 01 04 00 00 00 01 31 CA$") &&
                   sent("^COM2 .. .. 00 00 00 06 01 04 00 00 00 01$");
        },
        30000));
    boxes.answer = Answer::Yes;
    app.ConfermaUscita();
    EXPECT_THAT(fine, ElementsAre(0));
}

// A text that does not fit its control widens it into the free space to its
// right, pushing the control beside it along.
TEST(WidgetsTest, EveryTextFitsItsControl) {
    QWidget owner;
    owner.resize(400, 40);
    auto* stretta = new QLabel(QStringLiteral("Impostazioni ricaricate"), &owner);
    auto* beside = new QPushButton(QStringLiteral("OK"), &owner);
    stretta->setGeometry(0, 0, 20, 20);
    beside->setGeometry(30, 0, 40, 20);
    FitTexts(owner);
    EXPECT_GE(stretta->width(), stretta->fontMetrics().horizontalAdvance(stretta->text()));
    EXPECT_GT(beside->x(), stretta->geometry().right());
}

// The real boxes: Qt's own buttons read as on an Italian desktop, and the
// cause of a failure is the box's detailed text, behind "Mostra detailText...".
TEST(QtDialogsTest, BoxesSpeakItalianAndCarryTheCauseAsDetails) {
    ASSERT_TRUE(LoadQtTranslation()) << "Qt's Italian translation is not installed";
    QString detailText, si;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        detailText = box->detailedText();
        si = box->button(QMessageBox::Yes)->text().remove(QLatin1Char('&'));
        box->button(QMessageBox::No)->click();
    });
    QtDialogs dialogs;
    EXPECT_EQ(
        dialogs.messageBox("Tarvel", "Impostazioni errate nel file Tarvel.INI", Icon::Critical,
                           Buttons::YesNo, Answer::Yes, "il file /tmp/x/Tarvel.INI non esiste"),
        Answer::No);
    EXPECT_EQ(detailText, QStringLiteral("il file /tmp/x/Tarvel.INI non esiste"));
    EXPECT_EQ(si, QStringLiteral("Sì"));
}

// The serial monitor window over the Modbus layer's two lists: it shows
// them and forwards the notation, the clearing and the removal of a pair.
class MonitorTest : public ::testing::Test {
  protected:
    MonitorTest() {
        device.values[{3, 0}] = 10;
        p.port.setDevice([this](const Bytes& request) { return device(request); });
        p.port.open();
        monitor.PreparaMonitor();
    }
    QListWidget* listWidget(int i) {
        return monitor.findChild<QListWidget*>(QStringLiteral("LstAttivita%1").arg(i));
    }
    QString line(int i, int r) { return listWidget(i)->item(r)->text(); }
    // One read of holding register 0 of node 1, then the monitor's refresh.
    void read() {
        mbus.LeggiValore16(3, 0, 1, 0, false);
        p.clock.advance(MonitorForm::RefreshInterval);
    }

    fakes::FakePlatform p;
    fakes::ScriptedDevice device;
    MBus mbus{p.port, p.clock};
    MonitorForm monitor{mbus, p.clock};
};

TEST_F(MonitorTest, ShowsTheFramesAndForwardsNotationClearCloseAndThePairs) {
    monitor.MenuMonitor_Click();
    ASSERT_TRUE(monitor.isVisible() && mbus.monitorAttivo());
    read();
    ASSERT_EQ(listWidget(0)->count(), 1);
    EXPECT_EQ(line(0, 0), "01 03 00 00 00 01 84 0A");
    EXPECT_EQ(line(1, 0), "01 03 02 00 0A 38 43");

    QTest::mouseClick(monitor.findChild<QRadioButton*>("Opt_Notazione0"), Qt::LeftButton);
    read();
    EXPECT_EQ(line(0, 1), "001 003 000 000 000 001 132 010");

    monitor.close();
    EXPECT_FALSE(monitor.isVisible() || mbus.monitorAttivo());
    monitor.MenuMonitor_Click();
    EXPECT_EQ(listWidget(0)->count() + listWidget(1)->count(), 0) << "it opens empty";

    read();
    QTest::mouseClick(monitor.findChild<QPushButton*>("Cmd_Clear"), Qt::LeftButton);
    EXPECT_TRUE(mbus.monitor().answers().empty());

    // The selection is paired (the same code for either list) and a
    // double-click removes the pair, but not without request lines.
    QTest::mouseClick(monitor.findChild<QRadioButton*>("Opt_Notazione1"), Qt::LeftButton);
    for (int i = 0; i < 3; ++i) read();
    device.silent = true;
    read();
    ASSERT_EQ(listWidget(1)->count(), 4);
    EXPECT_EQ(line(1, 3), "Time out");
    listWidget(0)->setCurrentRow(3);
    EXPECT_EQ(listWidget(1)->currentRow(), 3);
    monitor.LstAttivita_DblClick(1);
    ASSERT_EQ(listWidget(0)->count() + listWidget(1)->count(), 6);
    EXPECT_EQ(line(1, 2), "01 03 02 00 0A 38 43");

    mbus.monitor().wipe();
    mbus.monitor().addAnswer("Time out");
    monitor.refresh();
    listWidget(1)->setCurrentRow(0);
    monitor.LstAttivita_DblClick(1);
    EXPECT_EQ(listWidget(1)->count(), 1);
}

// The window "Stato devices": one node that answers and one that stays
// silent, the rows after a cycle with the window open and after one with it
// hidden, the wall-clock time of the last good answer, and the empty table
// after a reload of the settings. What the counts are is tested on the core
// (FastCycleTest).
class DeviceStatusWindowTest : public Postazione {
  protected:
    DeviceStatusWindowTest() {
        // Node 1 answers its two lines after 5 ms; node 2 never answers.
        p().ini.set("Parameters", "Last", "3");
        p().ini.set("Parameters", "003", "2,3,0,0;Muto");
        start();
    }
    void ciclo() {
        for (const char* menuItem : {"MenuAvvio", "MenuFerma"}) action(menuItem)->trigger();
    }
    DeviceStatusWindow* win() { return main().findChild<DeviceStatusWindow*>(); }
    QTableWidget* tabella() { return win()->findChild<QTableWidget*>(); }
    // The texts of row r.
    std::vector<std::string> line(int r) {
        std::vector<std::string> texts;
        for (int c = 0; c < tabella()->columnCount(); ++c)
            texts.push_back(tabella()->item(r, c)->text().toStdString());
        return texts;
    }
    // What "Ultima buona" of node 1 must read now, by the wall clock at `when`.
    std::string oraUltimaBuona(const QDateTime& when) {
        const TimePoint last = *app.program().mbus().health().nodes().at(1).lastGood;
        const auto fa = std::chrono::duration_cast<Millis>(p().clock.now() - last);
        return when.addMSecs(-fa.count()).toString("hh:mm:ss").toStdString();
    }
};

TEST_F(DeviceStatusWindowTest, OneWindowShowsEachNodeAfterEveryCycle) {
    action("MenuStatoDispositivi")->trigger();
    ASSERT_TRUE(win() && win()->isVisible());

    // Open while the cycle runs: the rows follow its end.
    ciclo();
    ASSERT_EQ(tabella()->rowCount(), 2);
    EXPECT_THAT(line(1), ElementsAre("2", "1", "0", "1", "0", "0", "-", "0", "-", "-"));

    // Hidden during the next cycle: asked for again, the same window
    // catches up. Two hours later by the program's clock the last good
    // answer is two hours ago.
    win()->close();
    ciclo();
    p().clock.advance(std::chrono::hours(2));
    const QDateTime first = QDateTime::currentDateTime();
    action("MenuStatoDispositivi")->trigger();
    const QDateTime dopo = QDateTime::currentDateTime();
    EXPECT_EQ(app.mainForm().findChildren<DeviceStatusWindow*>().size(), 1);
    EXPECT_THAT(line(0), ElementsAre("1", "4", "4", "0", "0", "0", "-", "0", "5.0",
                                     AnyOf(oraUltimaBuona(first), oraUltimaBuona(dopo))));

    // A reload of the settings empties the table.
    action("MenuRicarica")->trigger();
    EXPECT_EQ(tabella()->rowCount(), 0);
}

// The window "TrendWindow" over a history prepared with the sqlite3 tool around
// the present time: the curve of one name per span with its gaps, the time
// axis and the next cycle's point. The menu item without a history is in
// the main window's test.
using Trend = std::vector<std::vector<std::pair<qint64, double>>>;

class TrendWindowTest : public Postazione {
  protected:
    TrendWindowTest() : Postazione(true) {
        // Tensione two days and 50 minutes ago, a failed read 40 minutes
        // ago, 30 minutes ago; Value 10 minutes ago.
        EXPECT_EQ(Sqlite(folder / "storico.db",
                         test::HistoryTable +
                             "INSERT INTO history SELECT strftime('%Y-%m-%dT%H:%M:%fZ', 'now', "
                             "column1), 1, 1, column2, column3, 1 FROM (VALUES ('-2 days', "
                             "'Tensione', 7), ('-50 minutes', 'Tensione', 1), ('-40 minutes', "
                             "'Tensione', NULL), ('-30 minutes', 'Tensione', 3), ('-10 minutes', "
                             "'Valore', 42));"),
                  "");
        // The times in ms since 1970, read back by the tool.
        std::istringstream times(Sqlite(folder / "storico.db",
                                        "SELECT strftime('%s', time) * 1000 + substr(time, 21, 3) "
                                        "FROM history WHERE name = 'Tensione' ORDER BY time"));
        for (qint64 t; times >> t;) ms.push_back(t);
        EXPECT_EQ(ms.size(), 4u);

        p().ini.set("History", "File", "storico.db");
        start();
    }
    TrendWindow* win() { return app.mainForm().findChild<TrendWindow*>(); }
    QComboBox* choice(const char* name) { return control<QComboBox>(name, win()); }
    QChart* grafico() { return win()->findChild<QChartView*>()->chart(); }
    Trend curva() {
        Trend linee;
        for (QAbstractSeries* serie : grafico()->series()) {
            linee.emplace_back();
            for (const QPointF& punto : static_cast<QLineSeries*>(serie)->points())
                linee.back().emplace_back(static_cast<qint64>(punto.x()), punto.y());
        }
        return linee;
    }

    std::vector<qint64> ms;  // Tensione's times, oldest first
};

// Each span shows the points inside it, a line broken at each failed read,
// on a time axis that ends now; the open window draws the point of the cycle
// that just ended.
TEST_F(TrendWindowTest, EachSpanShowsItsCurveWithGapsAndEveryCycleItsPoint) {
    action("MenuGrafico")->trigger();
    ASSERT_NE(win(), nullptr) << "the menu item is on with a history";
    EXPECT_EQ(choice("Cmb_Valore")->count(), 2);
    choice("Cmb_Valore")->setCurrentIndex(choice("Cmb_Valore")->findText("Tensione"));
    // 24 hours, then 7 days.
    for (const Trend& wait :
         {Trend{{{ms[1], 1}}, {{ms[3], 3}}}, Trend{{{ms[0], 7}, {ms[1], 1}}, {{ms[3], 3}}}}) {
        choice("Cmb_Intervallo")->setCurrentIndex(choice("Cmb_Intervallo")->currentIndex() + 1);
        EXPECT_EQ(curva(), wait);
        auto* tempo = static_cast<QDateTimeAxis*>(grafico()->axes(Qt::Horizontal).at(0));
        EXPECT_LE(std::abs(tempo->max().msecsTo(QDateTime::currentDateTime())), 5000);
    }

    const qint64 first = QDateTime::currentMSecsSinceEpoch();
    for (const char* menuItem : {"MenuAvvio", "MenuFerma"}) action(menuItem)->trigger();
    EXPECT_THAT(curva(),
                ElementsAre(_, ElementsAre(Pair(ms[3], 3.0),
                                           Pair(AllOf(Ge(first), Le(first + 5000)), 230.1))));
}

}  // namespace
}  // namespace tarvel
