#pragma once
// Whether a label shows its whole text: the text's width fits the room inside
// its frame.

#include <gtest/gtest.h>

#include <QLabel>

namespace qova {

inline ::testing::AssertionResult ShowsWholeText(QLabel* panel) {
  if (panel == nullptr) return ::testing::AssertionFailure() << "no such panel";
  const int needed = panel->fontMetrics().horizontalAdvance(panel->text());
  const int room = panel->contentsRect().width();
  if (needed <= room) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << panel->text().toStdString() << "\" needs "
                                       << needed << " px, the panel has " << room;
}

}  // namespace qova
