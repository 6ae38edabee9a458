#include "platform/qtgui/QtDialogs.h"

#include <QInputDialog>
#include <QMessageBox>

namespace tarvel {
namespace {

QString qtText(const std::string& text) {
    // Carriage returns end lines, as in the texts the program builds.
    QString result = QString::fromStdString(text);
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return result;
}

QMessageBox::Icon qtIcon(Icon icon) {
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

void toFront(QWidget& win) {
    win.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    win.setWindowModality(Qt::ApplicationModal);
}

}  // namespace

Answer QtDialogs::messageBox(const std::string& title, const std::string& text, Icon icon,
                             Buttons buttons, Answer defaultButton, const std::string& details) {
    QMessageBox box(qtIcon(icon), qtText(title), qtText(text));
    toFront(box);
    if (!details.empty()) box.setDetailedText(qtText(details));
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
    const int choice = box.exec();
    if (buttons == Buttons::Ok) return Answer::Ok;
    return choice == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

std::string QtDialogs::inputBox(const std::string& prompt, const std::string& title,
                                const std::string& proposed) {
    QInputDialog dialog;
    toFront(dialog);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(qtText(title));
    dialog.setLabelText(qtText(prompt));
    dialog.setTextValue(QString::fromStdString(proposed));
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.textValue().toStdString();
}

}  // namespace tarvel
