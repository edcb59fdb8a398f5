#pragma once
// A status bar panel that gives way to its neighbours: it asks for the width
// of its whole text but takes what the bar leaves it, showing as much of the
// text as fits, cut short with "…", and the whole text in its tooltip.

#include <QLabel>
#include <QString>

namespace qova {

class GivingWayLabel : public QLabel {
 public:
  explicit GivingWayLabel(QWidget* parent = nullptr);

  // The text to show; text() is what shows of it.
  void SetWholeText(const QString& text);
  const QString& WholeText() const { return whole_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Fit();
  QString whole_;
};

}  // namespace qova
