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

QPixmap DrawIcon(int side) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = side / 64.0;
    // A dark blue plate with a signal trace and a green lamp.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 60, 120));
    p.drawRoundedRect(QRectF(2 * s, 2 * s, 60 * s, 60 * s), 12 * s, 12 * s);
    QPainterPath stroke;
    stroke.moveTo(8 * s, 40 * s);
    stroke.lineTo(18 * s, 40 * s);
    stroke.lineTo(18 * s, 24 * s);
    stroke.lineTo(30 * s, 24 * s);
    stroke.lineTo(30 * s, 40 * s);
    stroke.lineTo(42 * s, 40 * s);
    stroke.lineTo(42 * s, 24 * s);
    stroke.lineTo(50 * s, 24 * s);
    p.setPen(QPen(Qt::white, 4.5 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(stroke);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 210, 80));
    p.drawEllipse(QPointF(49 * s, 48 * s), 7 * s, 7 * s);
    return pixmap;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int side : {16, 22, 24, 32, 48, 64, 128, 256}) icon.addPixmap(DrawIcon(side));
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

QPixmap DrawLamp(const QColor& colour, int side) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF circle(1.5, 1.5, side - 3.0, side - 3.0);
    QRadialGradient light(circle.center() - QPointF(side / 6.0, side / 6.0), side / 1.6);
    light.setColorAt(0.0, colour.lighter(190));
    light.setColorAt(0.45, colour);
    light.setColorAt(1.0, colour.darker(220));
    p.setPen(QPen(QColor(60, 60, 60), 1.2));
    p.setBrush(light);
    p.drawEllipse(circle);
    return pixmap;
}

QPixmap DrawEnvelope(int boxWidth, int boxHeight) {
    QPixmap pixmap(boxWidth, boxHeight);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF envelope(0.5, 0.5, boxWidth - 1.0, boxHeight - 1.0);
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.setBrush(QColor(250, 245, 225));
    p.drawRect(envelope);
    p.drawLine(envelope.topLeft(), QPointF(envelope.center().x(), envelope.center().y() + 1));
    p.drawLine(envelope.topRight(), QPointF(envelope.center().x(), envelope.center().y() + 1));
    return pixmap;
}

QLabel* Label(QWidget* owner, const char* name, const QString& text, const QRect& box) {
    auto* label = new QLabel(text, owner);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(box);
    return label;
}

int NeededWidth(const QWidget& control) {
    const QFontMetrics metrics = control.fontMetrics();
    if (const auto* label = qobject_cast<const QLabel*>(&control)) {
        if (label->wordWrap() || label->textFormat() == Qt::RichText) return 0;
        int boxWidth = 0;
        for (const QString& line : label->text().split(QLatin1Char('\n')))
            boxWidth = std::max(boxWidth, metrics.horizontalAdvance(line));
        return boxWidth == 0 ? 0 : boxWidth + 2 * (label->margin() + label->frameWidth());
    }
    if (const auto* button = qobject_cast<const QPushButton*>(&control)) {
        // The style's least width of a push button is no part of its text.
        if (button->text().isEmpty()) return 0;
        const QStyle* look = button->style();
        return metrics.horizontalAdvance(QString(button->text()).remove(QLatin1Char('&'))) +
               2 * (look->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) +
                    look->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button));
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(&control))
        return button->text().isEmpty() ? 0 : button->sizeHint().width();
    return 0;
}

namespace {

// The controls beside one on its right (overlapping its height), from left
// to right.
std::vector<QWidget*> AlignRight(const QWidget& control) {
    const QRect box = control.geometry();
    std::vector<QWidget*> beside;
    for (QObject* child : control.parentWidget()->children()) {
        auto* otherWidget = qobject_cast<QWidget*>(child);
        if (!otherWidget || otherWidget == &control || otherWidget->isWindow()) continue;
        const QRect r = otherWidget->geometry();
        if (r.left() > box.right() && r.top() <= box.bottom() && r.bottom() >= box.top())
            beside.push_back(otherWidget);
    }
    std::sort(beside.begin(), beside.end(),
              [](const QWidget* a, const QWidget* b) { return a->x() < b->x(); });
    return beside;
}

// Widens the control to its text, moving the controls beside it to the right
// as far as the free space further on allows; the gaps between them shrink
// to at most this, never to nothing.
constexpr int MaxGap = 6;

void Widen(QWidget& control, int serve) {
    const std::vector<QWidget*> beside = AlignRight(control);
    const int border = control.parentWidget()->width();
    // Where each one would go: the first that need not move ends the push.
    std::vector<int> leftSides;
    int rightSide = control.x() + serve, rightFirst = control.geometry().right() + 1;
    for (const QWidget* otherWidget : beside) {
        if (otherWidget->x() >= rightSide + std::min(MaxGap, otherWidget->x() - rightFirst)) break;
        const int leftSide = rightSide + std::min(MaxGap, otherWidget->x() - rightFirst);
        rightFirst = otherWidget->geometry().right() + 1;
        rightSide = leftSide + otherWidget->width();
        leftSides.push_back(leftSide);
    }
    if (rightSide > border) {
        // No room for the push: as wide as the space up to the next control.
        const int limit = beside.empty() ? border : beside.front()->x();
        control.resize(std::max(control.width(), std::min(serve, limit - control.x())),
                         control.height());
        return;
    }
    for (std::size_t i = 0; i < leftSides.size(); ++i)
        beside[i]->move(leftSides[i], beside[i]->y());
    control.resize(serve, control.height());
}

}  // namespace

void FitTexts(QWidget& win) {
    for (QWidget* control : win.findChildren<QWidget*>()) {
        const int serve = NeededWidth(*control);
        if (serve > control->width() && control->parentWidget()) Widen(*control, serve);
    }
}

QListWidget* List(QWidget* owner, const char* name, const QRect& box) {
    auto* listWidget = new QListWidget(owner);
    listWidget->setObjectName(QString::fromLatin1(name));
    listWidget->setGeometry(box);
    listWidget->setSelectionMode(QAbstractItemView::SingleSelection);
    listWidget->setUniformItemSizes(true);
    return listWidget;
}

void DoubleLine::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(QPalette::Mid));
    p.drawLine(0, 0, width() - 1, 0);
    p.setPen(Qt::white);
    p.drawLine(0, 1, width() - 1, 1);
}

void ShowInFront(QWidget& win, const std::function<void()>& refresh) {
    if (win.isVisible())
        refresh();
    else
        win.show();
    win.raise();
    win.activateWindow();
}

}  // namespace tarvel
