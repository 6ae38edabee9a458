#pragma once
// The pieces every window is built from: the twips of the layouts, the
// font, the pictures drawn in code (the program's icon, the lamps of the
// status lamp, the envelope beside the mail address), labels and lists
// placed by name, and the double separator line.

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QWidget>
#include <array>
#include <functional>

#include "acquisition/Lamp.h"

class QLabel;
class QListWidget;

namespace tarvel {

// Twips, the unit of the window layouts, at 15 per pixel.
constexpr int Px(int twips) { return (twips + 7) / 15; }
// A place given in twips: left, top, width, height.
QRect Twips(int left, int top, int width, int height);

// The font of the windows: small enough for their fixed layouts.
QFont WindowFont();

QIcon ProgramIcon();
QPixmap DrawIcon(int side);

// The lit lamps of the status lamp, in the order of their pictures, and
// the colour each one shines in.
inline constexpr std::array<Lamp, 3> LampsLit = {Lamp::Green, Lamp::Yellow,
                                                         Lamp::Red};
QColor LampColour(Lamp lamp);
// A lamp of the given colour, lit, side by side pixels.
QPixmap DrawLamp(const QColor& colour, int side = 32);
QPixmap DrawEnvelope(int boxWidth, int boxHeight);

// A label with its object name, text and place.
QLabel* Label(QWidget* owner, const char* name, const QString& text, const QRect& box);
// A list with its object name and place, one line selected at a time.
QListWidget* List(QWidget* owner, const char* name, const QRect& box);

// The width a label's or button's text needs in its font, with the
// control's own margins; 0 for other controls and for labels that wrap.
int NeededWidth(const QWidget& control);
// Widens each label and button of the window whose text does not fit, into
// the free space to its right, up to the next control or the edge of its
// parent; the window keeps its size. Called once the window is built.
void FitTexts(QWidget& win);
// A window asked for from the menu: refreshed when already open, shown
// otherwise (showing refreshes it), then brought to the front.
void ShowInFront(QWidget& win, const std::function<void()>& refresh);

// A separator drawn as two lines: the upper one in the frame's shadow
// colour, the lower one white.
class DoubleLine : public QWidget {
  public:
    using QWidget::QWidget;

  protected:
    void paintEvent(QPaintEvent*) override;
};

}  // namespace tarvel
