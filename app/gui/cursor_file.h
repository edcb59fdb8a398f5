#pragma once
// Mouse pointers from Windows cursor files (*.cur).

#include <QByteArray>
#include <QCursor>
#include <QImage>
#include <QPoint>
#include <optional>
#include <string>

namespace qova {

// The hotspot of the first image of a cursor file, from its directory entry.
// nullopt when the bytes are not a cursor file.
std::optional<QPoint> CursorHotspot(const QByteArray& bytes);

// The first image and the hotspot of a cursor file; nullopt when the file is
// missing or unreadable.
std::optional<QCursor> LoadCursorFile(const std::string& path);

}  // namespace qova
