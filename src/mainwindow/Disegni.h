#pragma once
// The pictures of the program, drawn in code: the program's icon, the
// three lamps of the status lamp and the envelope beside the mail address.

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>

namespace tarvel {

// Twips, the unit of the window layouts, at 15 per pixel.
constexpr int Px(int twips) { return (twips + 7) / 15; }

// The font of the windows: small enough for their fixed layouts.
QFont FontFinestre();

QIcon IconaProgramma();
QPixmap DisegnaIcona(int lato);
// A lamp of the given colour, lit, side by side pixels.
QPixmap DisegnaLampada(const QColor& colore, int lato = 32);
QPixmap DisegnaBusta(int larghezza, int altezza);

}  // namespace tarvel
