#pragma once
// The lens and the tilt of a rendered plate: how the ideal image of the grid
// (the plain rotated grid) is carried onto the pixels. Both maps act about
// the image centre c = (width/2, height/2), in units of the half-diagonal R.
//
//   perspective (a homography; lines stay lines): an ideal point q is seen
//     at p1 with (p1 − c)/R = e/(1 − t·e), e = (q − c)/R, t = (tiltX, tiltY);
//   barrel distortion: p1 is seen at p with p1 − c = (p − c)(1 + k1·|p − c|²/R²);
//     k1 > 0 draws the outer parts in (barrel), k1 < 0 pushes them out.
//
// Rendering pulls every pixel back to the ideal grid (Ideal); the truth goes
// forward (Image), the barrel inverted by Newton's method to the last bits.

#include <QPointF>

namespace qova {

class PlateMapping {
 public:
  PlateMapping(int width, int height, double tiltX, double tiltY, double barrel);

  bool IsIdentity() const { return tiltX_ == 0 && tiltY_ == 0 && barrel_ == 0; }
  // Pixel position -> point of the ideal grid.
  QPointF Ideal(QPointF p) const;
  // Point of the ideal grid -> pixel position.
  QPointF Image(QPointF q) const;

 private:
  QPointF centre_;
  double radius_;
  double tiltX_, tiltY_, barrel_;
};

}  // namespace qova
