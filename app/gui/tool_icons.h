#pragma once
// The 22 × 22 icons of the tool buttons, drawn by the program itself.

#include <QIcon>

namespace qova {

QIcon HandIcon();    // manual determination of reference points
QIcon FolderIcon();  // open an image
QIcon DiskIcon();    // save the coordinates
QIcon DoorIcon();    // exit
QIcon RunIcon();     // find the coordinates

}  // namespace qova
