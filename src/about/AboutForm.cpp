#include "about/AboutForm.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>

#include "Product.h"
#include "about/Version.h"
#include "mainwindow/Widgets.h"

namespace tarvel {
namespace {

const char* const LegalWarning =
    "Attenzione: questo programma è tutelato dalle leggi sul diritto d'autore e dalle "
    "convenzioni internazionali. La riproduzione o la distribuzione non autorizzata di questo "
    "programma, o di parte di esso, è perseguibile civilmente e penalmente.";

}  // namespace

AboutForm::AboutForm(const ProgramIdentity& identity, DesktopShell& shell) : shell_(shell) {
    setObjectName(QStringLiteral("Frm_About"));
    setWindowTitle(QStringLiteral("Informazioni su..."));
    setWindowIcon(ProgramIcon());
    setFont(WindowFont());
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(400, 270);
    createControls(identity);
    FitTexts(*this);
}

void AboutForm::createControls(const ProgramIdentity& identity) {
    auto* logo = Label(this, "Img_Logo", QString(), QRect(16, 16, 48, 48));
    logo->setPixmap(DrawIcon(48));
    QLabel* name = Label(this, "lblProductName", QString::fromLatin1(ProductName),
                             QRect(80, 12, 300, 30));
    QFont bigFont = name->font();
    bigFont.setPointSize(bigFont.pointSize() + 6);
    bigFont.setBold(true);
    name->setFont(bigFont);
    Label(this, "lblVersion", QString::fromStdString(VersionText(identity)),
              QRect(80, 44, 300, 17));
    Label(this, "Lab_copy", QString::fromStdString(identity.copyright()),
              QRect(80, 64, 300, 17));
    (new DoubleLine(this))->setGeometry(16, 92, 368, 2);
    QLabel* warningText =
        Label(this, "Lab_Warning", QString::fromUtf8(LegalWarning), QRect(16, 102, 368, 80));
    warningText->setWordWrap(true);
    warningText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    (new DoubleLine(this))->setGeometry(16, 190, 368, 2);

    imgEMail_ = Label(this, "Img_EMail", QString(), QRect(16, 206, 20, 14));
    imgEMail_->setPixmap(DrawEnvelope(20, 14));
    imgEMail_->setMouseTracking(true);
    imgEMail_->installEventFilter(this);
    labEMail_ = Label(this, "Lab_EMail", QString::fromLatin1(ContactAddress),
                          QRect(42, 204, 220, 17));
    QPalette blu = labEMail_->palette();
    blu.setColor(QPalette::WindowText, QColor(0, 0, 200));
    labEMail_->setPalette(blu);
    labEMail_->setCursor(Qt::PointingHandCursor);
    labEMail_->setMouseTracking(true);
    labEMail_->installEventFilter(this);

    cmdOK_ = new QPushButton(QStringLiteral("OK"), this);
    cmdOK_->setObjectName(QStringLiteral("cmdOK"));
    cmdOK_->setGeometry(304, 232, 80, 26);
    cmdOK_->setDefault(true);
    connect(cmdOK_, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
}

void AboutForm::cmdOK_Click() {
    hide();
    emit closed();
}

void AboutForm::Lab_EMail_Click() {
    // The mail program gets the subject as it stands.
    shell_.openMailLink(std::string("mailto:") + ContactAddress + "?subject=" + ContactSubject);
}

bool AboutForm::addressUnderlined() const { return labEMail_->font().underline(); }

void AboutForm::underline(bool si) {
    if (labEMail_->font().underline() == si) return;
    QFont font = labEMail_->font();
    font.setUnderline(si);
    labEMail_->setFont(font);
}

void AboutForm::closeEvent(QCloseEvent* event) {
    event->ignore();
    cmdOK_Click();
}

bool AboutForm::eventFilter(QObject* subject, QEvent* ev) {
    const auto kind = ev->type();
    if (kind == QEvent::MouseMove || kind == QEvent::Enter) underline(subject == labEMail_);
    if (subject == labEMail_ && kind == QEvent::MouseButtonRelease) Lab_EMail_Click();
    return QWidget::eventFilter(subject, ev);
}

}  // namespace tarvel
