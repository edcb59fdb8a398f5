// Main of the tests that draw text or build widgets: a QApplication on the
// offscreen platform lives for the whole run.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  QApplication::setApplicationName("QOVA");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
