#pragma once
// Colour values hold red in the low byte; Qt's QRgb holds blue there.

#include <QColor>

#include "core/data_structures.h"

namespace qova {

inline QRgb ToQRgb(Color c) { return qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
inline Color FromQRgb(QRgb q) { return qRed(q) | (qGreen(q) << 8) | (qBlue(q) << 16); }

}  // namespace qova
