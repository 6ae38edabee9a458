#include "platform/qtgui/QtDialogs.h"

#include <QInputDialog>
#include <QMessageBox>

namespace tarvel {
namespace {

QString testo(const std::string& text) {
    // Carriage returns end lines, as in the texts the program builds.
    QString risultato = QString::fromStdString(text);
    risultato.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    risultato.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return risultato;
}

QMessageBox::Icon iconaQt(Icon icon) {
    switch (icon) {
        case Icon::Critical:
            return QMessageBox::Critical;
        case Icon::Exclamation:
            return QMessageBox::Warning;
        case Icon::Question:
            return QMessageBox::Question;
        case Icon::Information:
            return QMessageBox::Information;
        case Icon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

void inPrimoPiano(QWidget& finestra) {
    finestra.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    finestra.setWindowModality(Qt::ApplicationModal);
}

}  // namespace

Answer QtDialogs::messageBox(const std::string& title, const std::string& text, Icon icon,
                             Buttons buttons, Answer defaultButton, const std::string& details) {
    QMessageBox box(iconaQt(icon), testo(title), testo(text));
    inPrimoPiano(box);
    if (!details.empty()) box.setDetailedText(testo(details));
    if (buttons == Buttons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(defaultButton == Answer::Yes ? QMessageBox::Yes : QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
    }
    box.show();
    box.raise();
    box.activateWindow();
    const int scelta = box.exec();
    if (buttons == Buttons::Ok) return Answer::Ok;
    return scelta == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

std::string QtDialogs::inputBox(const std::string& prompt, const std::string& title,
                                const std::string& proposed) {
    QInputDialog dialog;
    inPrimoPiano(dialog);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(testo(title));
    dialog.setLabelText(testo(prompt));
    dialog.setTextValue(QString::fromStdString(proposed));
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.textValue().toStdString();
}

}  // namespace tarvel
