#pragma once
// Pictures of what a test shows, for a person to look at: with QOVA_SCREENS
// naming a folder, a widget is saved there as NAME.png. Without it nothing is
// written and the test runs the same.

#include <QString>
#include <QWidget>
#include <cstdlib>

namespace qova {

inline void SaveScreen(QWidget* widget, const char* name) {
  const char* folder = std::getenv("QOVA_SCREENS");
  if (folder == nullptr || *folder == '\0' || widget == nullptr) return;
  widget->grab().save(QString::fromLocal8Bit(folder) + '/' + QString::fromUtf8(name) + ".png");
}

}  // namespace qova
