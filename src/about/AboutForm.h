#pragma once
// The About window: product name, version, legal notice, warning and the
// contact address as a link that opens a new mail. Closing it in any way
// acts as its OK button.

#include <QWidget>

#include "platform/DesktopShell.h"
#include "platform/ProgramIdentity.h"

class QLabel;
class QPushButton;

namespace tarvel {

inline constexpr const char* ContactAddress = "info@tarvel.example";
inline constexpr const char* ContactSubject = "Richiesta informazioni";

class AboutForm : public QWidget {
    Q_OBJECT

  public:
    AboutForm(const ProgramIdentity& identity, DesktopShell& shell);

    void cmdOK_Click();
    void Lab_EMail_Click();
    bool addressUnderlined() const;

  signals:
    // The window was hidden: the main window takes input again.
    void closed();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* subject, QEvent* ev) override;

  private:
    void createControls(const ProgramIdentity& identity);
    void underline(bool si);

    DesktopShell& shell_;
    QLabel* labEMail_ = nullptr;
    QLabel* imgEMail_ = nullptr;
    QPushButton* cmdOK_ = nullptr;
};

}  // namespace tarvel
