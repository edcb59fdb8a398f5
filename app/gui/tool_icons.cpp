#include "app/gui/tool_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

namespace qova {

namespace {

constexpr int kIconSize = 22;

QIcon Draw(const std::function<void(QPainter&)>& paint) {
  QPixmap pixmap(kIconSize, kIconSize);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  paint(p);
  p.end();
  return QIcon(pixmap);
}

}  // namespace

QIcon HandIcon() {
  return Draw([](QPainter& p) {
    // A pointing hand: the index finger up, the fist below.
    p.setPen(QPen(QColor(90, 60, 30), 1.2));
    p.setBrush(QColor(250, 215, 170));
    p.drawRoundedRect(QRectF(8, 2, 4, 11), 2, 2);
    p.drawRoundedRect(QRectF(5, 10, 13, 10), 3, 3);
    p.drawLine(QPointF(12, 11), QPointF(12, 14));
    p.drawLine(QPointF(15, 11), QPointF(15, 14));
  });
}

QIcon FolderIcon() {
  return Draw([](QPainter& p) {
    p.setPen(QPen(QColor(120, 90, 10), 1));
    p.setBrush(QColor(230, 190, 70));
    p.drawRect(QRectF(2, 6, 15, 12));
    p.drawRect(QRectF(2, 4, 6, 2));
    QPainterPath lid;  // the open front leaf
    lid.moveTo(5, 10);
    lid.lineTo(21, 10);
    lid.lineTo(17, 18);
    lid.lineTo(2, 18);
    lid.closeSubpath();
    p.setBrush(QColor(250, 215, 110));
    p.drawPath(lid);
  });
}

QIcon DiskIcon() {
  return Draw([](QPainter& p) {
    p.setPen(QPen(QColor(20, 30, 80), 1));
    p.setBrush(QColor(60, 90, 180));
    p.drawRect(QRectF(3, 3, 16, 16));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(6, 3, 10, 6));  // label
    p.setBrush(QColor(200, 200, 210));
    p.drawRect(QRectF(6, 12, 10, 7));  // shutter
    p.fillRect(QRectF(12, 13, 2, 4), QColor(20, 30, 80));
  });
}

QIcon DoorIcon() {
  return Draw([](QPainter& p) {
    p.setPen(QPen(QColor(60, 40, 20), 1));
    p.setBrush(QColor(160, 110, 60));
    p.drawRect(QRectF(4, 2, 11, 18));  // frame
    QPainterPath leaf;                 // the door swung half open
    leaf.moveTo(4, 2);
    leaf.lineTo(10, 4);
    leaf.lineTo(10, 21);
    leaf.lineTo(4, 20);
    leaf.closeSubpath();
    p.setBrush(QColor(120, 75, 35));
    p.drawPath(leaf);
    p.setPen(QPen(QColor(200, 30, 30), 2));  // the way out
    p.drawLine(QPointF(13, 11), QPointF(20, 11));
    p.drawLine(QPointF(17, 8), QPointF(20, 11));
    p.drawLine(QPointF(17, 14), QPointF(20, 11));
  });
}

QIcon RunIcon() {
  return Draw([](QPainter& p) {
    // A crosshair over a grid crossing, the thing the run finds.
    p.setPen(QPen(QColor(120, 120, 120), 1));
    p.drawLine(QPointF(2, 11), QPointF(20, 11));
    p.drawLine(QPointF(11, 2), QPointF(11, 20));
    p.setPen(QPen(QColor(0, 128, 0), 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(11, 11), 6, 6);
    p.drawLine(QPointF(11, 1), QPointF(11, 7));
    p.drawLine(QPointF(11, 15), QPointF(11, 21));
    p.drawLine(QPointF(1, 11), QPointF(7, 11));
    p.drawLine(QPointF(15, 11), QPointF(21, 11));
  });
}

}  // namespace qova
