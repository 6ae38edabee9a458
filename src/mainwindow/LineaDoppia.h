#pragma once
// A separator drawn as two lines: the upper one in the frame's shadow
// colour, the lower one white.

#include <QPainter>
#include <QWidget>

namespace tarvel {

class LineaDoppia : public QWidget {
  public:
    using QWidget::QWidget;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(palette().color(QPalette::Mid));
        p.drawLine(0, 0, width() - 1, 0);
        p.setPen(Qt::white);
        p.drawLine(0, 1, width() - 1, 1);
    }
};

}  // namespace tarvel
