#pragma once
// The serial monitor: the request frames and the answers of the line, one
// line per frame, over the Modbus layer's two paired lists. New lines are
// shown in batches on a short timer; a list keeps its last line in view
// unless the user scrolled away from it. With a host the Modbus layer lives
// on the logic's thread: the window shows a copy of its lists, brought up to
// date by queued copies of the new lines, and sends its commands there.

#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "mainwindow/AcquisitionHost.h"
#include "modbus/MBus.h"
#include "platform/Clock.h"

class QListWidget;
class QPushButton;
class QRadioButton;

namespace tarvel {

class MonitorForm : public QWidget {
    Q_OBJECT

  public:
    static constexpr Millis IntervalloAggiornamento{50};

    // Without a host the Modbus layer is on the window's thread.
    MonitorForm(MBus& mbus, Clock& clock, AcquisitionHost* host = nullptr);

    // At start-up: lists empty, hidden, not logging, hexadecimal notation.
    void PreparaMonitor();
    // Shows the monitor with empty lists, or hides it.
    void MenuMonitor_Click();
    void impostaDidascalia(const std::string& didascalia);

    void Cmd_Clear_Click();
    void Opt_Notazione_Click(int indice);
    void LstAttivita_Click(int indice);
    void LstAttivita_DblClick(int indice);
    // Brings both lists up to date with the log.
    void aggiorna();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // What changed in the log since the last copy: all of it after an
    // emptying or a removal, else the new lines.
    struct Novita {
        bool tutto = false;
        std::vector<std::string> richieste, risposte;
    };
    // On the logic's thread.
    Novita prendiNovita();
    void inviaNovita();
    void sullaLogica(std::function<void(MBus&)> comando);
    // On the window's thread.
    void applica(const Novita& novita);
    void creaControlli();
    void ricarica();
    void appendi(int indice, const std::vector<std::string>& righe);
    void mostraUltima(QListWidget* lista);

    MBus& mbus_;
    AcquisitionHost* host_;
    // The logic's side: how much of the log was copied.
    std::size_t richiesteInviate_ = 0, risposteInviate_ = 0;
    std::uint64_t azzeramentoInviato_ = 0;
    // The window's side: the copy it shows.
    MonitorLog copia_;
    std::unique_ptr<Timer> tmrAggiorna_;
    std::array<QListWidget*, 2> liste_{};
    std::array<QRadioButton*, 2> opzioni_{};
    QPushButton* cmdClear_ = nullptr;
    std::uint64_t versioneVista_ = 0;
    std::uint64_t azzeramentoVisto_ = 0;
    bool aggiornando_ = false;
};

}  // namespace tarvel
