#include "mainwindow/Widgets.h"

#include <QAbstractButton>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadialGradient>
#include <QStyle>
#include <algorithm>
#include <vector>

namespace tarvel {

QRect Twips(int left, int top, int width, int height) {
    return {Px(left), Px(top), Px(width), Px(height)};
}

QFont WindowFont() {
    // Arial-like metrics, as the layouts were drawn for; the desktop's own
    // font where none of these is installed.
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                      QStringLiteral("Nimbus Sans"), QStringLiteral("Arial"),
                      QStringLiteral("Helvetica"), font.defaultFamily()});
    font.setPointSize(8);
    return font;
}

QPixmap DrawIcon(int lato) {
    QPixmap pixmap(lato, lato);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = lato / 64.0;
    // A dark blue plate with a signal trace and a green lamp.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 60, 120));
    p.drawRoundedRect(QRectF(2 * s, 2 * s, 60 * s, 60 * s), 12 * s, 12 * s);
    QPainterPath traccia;
    traccia.moveTo(8 * s, 40 * s);
    traccia.lineTo(18 * s, 40 * s);
    traccia.lineTo(18 * s, 24 * s);
    traccia.lineTo(30 * s, 24 * s);
    traccia.lineTo(30 * s, 40 * s);
    traccia.lineTo(42 * s, 40 * s);
    traccia.lineTo(42 * s, 24 * s);
    traccia.lineTo(50 * s, 24 * s);
    p.setPen(QPen(Qt::white, 4.5 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(traccia);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 210, 80));
    p.drawEllipse(QPointF(49 * s, 48 * s), 7 * s, 7 * s);
    return pixmap;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int lato : {16, 22, 24, 32, 48, 64, 128, 256}) icon.addPixmap(DrawIcon(lato));
    return icon;
}

QColor LampColour(Lamp lamp) {
    switch (lamp) {
        case Lamp::Green:
            return QColor(0, 190, 0);
        case Lamp::Yellow:
            return QColor(240, 200, 0);
        case Lamp::Red:
            return QColor(220, 0, 0);
        case Lamp::Off:
            break;
    }
    return QColor(128, 128, 128);
}

QPixmap DrawLamp(const QColor& colore, int lato) {
    QPixmap pixmap(lato, lato);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF cerchio(1.5, 1.5, lato - 3.0, lato - 3.0);
    QRadialGradient luce(cerchio.center() - QPointF(lato / 6.0, lato / 6.0), lato / 1.6);
    luce.setColorAt(0.0, colore.lighter(190));
    luce.setColorAt(0.45, colore);
    luce.setColorAt(1.0, colore.darker(220));
    p.setPen(QPen(QColor(60, 60, 60), 1.2));
    p.setBrush(luce);
    p.drawEllipse(cerchio);
    return pixmap;
}

QPixmap DrawEnvelope(int larghezza, int altezza) {
    QPixmap pixmap(larghezza, altezza);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF busta(0.5, 0.5, larghezza - 1.0, altezza - 1.0);
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.setBrush(QColor(250, 245, 225));
    p.drawRect(busta);
    p.drawLine(busta.topLeft(), QPointF(busta.center().x(), busta.center().y() + 1));
    p.drawLine(busta.topRight(), QPointF(busta.center().x(), busta.center().y() + 1));
    return pixmap;
}

QLabel* Label(QWidget* padre, const char* name, const QString& text, const QRect& posto) {
    auto* label = new QLabel(text, padre);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(posto);
    return label;
}

int NeededWidth(const QWidget& controllo) {
    const QFontMetrics metriche = controllo.fontMetrics();
    if (const auto* label = qobject_cast<const QLabel*>(&controllo)) {
        if (label->wordWrap() || label->textFormat() == Qt::RichText) return 0;
        int larghezza = 0;
        for (const QString& line : label->text().split(QLatin1Char('\n')))
            larghezza = std::max(larghezza, metriche.horizontalAdvance(line));
        return larghezza == 0 ? 0 : larghezza + 2 * (label->margin() + label->frameWidth());
    }
    if (const auto* pulsante = qobject_cast<const QPushButton*>(&controllo)) {
        // The style's least width of a push button is no part of its text.
        if (pulsante->text().isEmpty()) return 0;
        const QStyle* stile = pulsante->style();
        return metriche.horizontalAdvance(QString(pulsante->text()).remove(QLatin1Char('&'))) +
               2 * (stile->pixelMetric(QStyle::PM_ButtonMargin, nullptr, pulsante) +
                    stile->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, pulsante));
    }
    if (const auto* pulsante = qobject_cast<const QAbstractButton*>(&controllo))
        return pulsante->text().isEmpty() ? 0 : pulsante->sizeHint().width();
    return 0;
}

namespace {

// The controls beside one on its right (overlapping its height), from left
// to right.
std::vector<QWidget*> AlignRight(const QWidget& controllo) {
    const QRect posto = controllo.geometry();
    std::vector<QWidget*> accanto;
    for (QObject* figlio : controllo.parentWidget()->children()) {
        auto* altro = qobject_cast<QWidget*>(figlio);
        if (!altro || altro == &controllo || altro->isWindow()) continue;
        const QRect r = altro->geometry();
        if (r.left() > posto.right() && r.top() <= posto.bottom() && r.bottom() >= posto.top())
            accanto.push_back(altro);
    }
    std::sort(accanto.begin(), accanto.end(),
              [](const QWidget* a, const QWidget* b) { return a->x() < b->x(); });
    return accanto;
}

// Widens the control to its text, moving the controls beside it to the right
// as far as the free space further on allows; the gaps between them shrink
// to at most this, never to nothing.
constexpr int MaxGap = 6;

void Widen(QWidget& controllo, int serve) {
    const std::vector<QWidget*> accanto = AlignRight(controllo);
    const int bordo = controllo.parentWidget()->width();
    // Where each one would go: the first that need not move ends the push.
    std::vector<int> sinistre;
    int destra = controllo.x() + serve, destraPrima = controllo.geometry().right() + 1;
    for (const QWidget* altro : accanto) {
        if (altro->x() >= destra + std::min(MaxGap, altro->x() - destraPrima)) break;
        const int sinistra = destra + std::min(MaxGap, altro->x() - destraPrima);
        destraPrima = altro->geometry().right() + 1;
        destra = sinistra + altro->width();
        sinistre.push_back(sinistra);
    }
    if (destra > bordo) {
        // No room for the push: as wide as the space up to the next control.
        const int limite = accanto.empty() ? bordo : accanto.front()->x();
        controllo.resize(std::max(controllo.width(), std::min(serve, limite - controllo.x())),
                         controllo.height());
        return;
    }
    for (std::size_t i = 0; i < sinistre.size(); ++i)
        accanto[i]->move(sinistre[i], accanto[i]->y());
    controllo.resize(serve, controllo.height());
}

}  // namespace

void FitTexts(QWidget& finestra) {
    for (QWidget* controllo : finestra.findChildren<QWidget*>()) {
        const int serve = NeededWidth(*controllo);
        if (serve > controllo->width() && controllo->parentWidget()) Widen(*controllo, serve);
    }
}

QListWidget* List(QWidget* padre, const char* name, const QRect& posto) {
    auto* lista = new QListWidget(padre);
    lista->setObjectName(QString::fromLatin1(name));
    lista->setGeometry(posto);
    lista->setSelectionMode(QAbstractItemView::SingleSelection);
    lista->setUniformItemSizes(true);
    return lista;
}

void DoubleLine::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(QPalette::Mid));
    p.drawLine(0, 0, width() - 1, 0);
    p.setPen(Qt::white);
    p.drawLine(0, 1, width() - 1, 1);
}

void ShowInFront(QWidget& finestra, const std::function<void()>& refresh) {
    if (finestra.isVisible())
        refresh();
    else
        finestra.show();
    finestra.raise();
    finestra.activateWindow();
}

}  // namespace tarvel
