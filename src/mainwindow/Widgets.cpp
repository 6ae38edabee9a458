#include "mainwindow/Widgets.h"

#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace tarvel {

QRect Twips(int left, int top, int width, int height) {
    return {Px(left), Px(top), Px(width), Px(height)};
}

QFont FontFinestre() {
    // Arial-like metrics, as the layouts were drawn for; the desktop's own
    // font where none of these is installed.
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                      QStringLiteral("Nimbus Sans"), QStringLiteral("Arial"),
                      QStringLiteral("Helvetica"), font.defaultFamily()});
    font.setPointSize(8);
    return font;
}

QPixmap DisegnaIcona(int lato) {
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

QIcon IconaProgramma() {
    QIcon icona;
    for (int lato : {16, 22, 24, 32, 48, 64, 128, 256}) icona.addPixmap(DisegnaIcona(lato));
    return icona;
}

QColor ColoreLampada(Lampada lampada) {
    switch (lampada) {
        case Lampada::Verde:
            return QColor(0, 190, 0);
        case Lampada::Giallo:
            return QColor(240, 200, 0);
        case Lampada::Rossa:
            return QColor(220, 0, 0);
        case Lampada::Spenta:
            break;
    }
    return QColor(128, 128, 128);
}

QPixmap DisegnaLampada(const QColor& colore, int lato) {
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

QPixmap DisegnaBusta(int larghezza, int altezza) {
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

QLabel* Etichetta(QWidget* padre, const char* nome, const QString& testo, const QRect& posto) {
    auto* label = new QLabel(testo, padre);
    label->setObjectName(QString::fromLatin1(nome));
    label->setGeometry(posto);
    return label;
}

QListWidget* Lista(QWidget* padre, const char* nome, const QRect& posto) {
    auto* lista = new QListWidget(padre);
    lista->setObjectName(QString::fromLatin1(nome));
    lista->setGeometry(posto);
    lista->setSelectionMode(QAbstractItemView::SingleSelection);
    lista->setUniformItemSizes(true);
    return lista;
}

void LineaDoppia::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(QPalette::Mid));
    p.drawLine(0, 0, width() - 1, 0);
    p.setPen(Qt::white);
    p.drawLine(0, 1, width() - 1, 1);
}

}  // namespace tarvel
