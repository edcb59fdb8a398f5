#include "app/gui/giving_way_label.h"

#include <QFontMetrics>
#include <QResizeEvent>
#include <algorithm>

namespace qova {

namespace {

// The room a label's frame, margin and indent take beside its text.
int Border(const QLabel& label) {
  const QMargins m = label.contentsMargins();
  return m.left() + m.right() + 2 * label.margin() + 2 * std::max(label.indent(), 0);
}

}  // namespace

GivingWayLabel::GivingWayLabel(QWidget* parent) : QLabel(parent) {
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void GivingWayLabel::SetWholeText(const QString& text) {
  if (text == whole_) return;
  whole_ = text;
  updateGeometry();
  Fit();
}

QSize GivingWayLabel::sizeHint() const {
  const int width = whole_.isEmpty() ? 0 : fontMetrics().horizontalAdvance(whole_) + Border(*this);
  return {width, QLabel::sizeHint().height()};
}

// It may shrink to nothing: what it says is also in the tooltip.
QSize GivingWayLabel::minimumSizeHint() const { return {0, QLabel::minimumSizeHint().height()}; }

void GivingWayLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  Fit();
}

void GivingWayLabel::Fit() {
  const int room = std::max(0, width() - Border(*this));
  // Whole when its advance fits: elidedText may cut a text whose fractional
  // advance is a hair wider than the rounded one.
  const QFontMetrics metrics = fontMetrics();
  const QString shown = metrics.horizontalAdvance(whole_) <= room
                            ? whole_
                            : metrics.elidedText(whole_, Qt::ElideRight, room);
  setText(shown);
  setToolTip(shown == whole_ ? QString() : whole_);
}

}  // namespace qova
