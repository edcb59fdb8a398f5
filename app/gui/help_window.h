#pragma once
// The built-in help: a contents list of topics and the text of the chosen one.
// The original help file format cannot be shown on this desktop, so the help
// the program carries is shown instead.

#include <QDialog>

class QListWidget;
class QTextBrowser;

namespace qova {

class HelpWindow : public QDialog {
 public:
  explicit HelpWindow(QWidget* parent);
  // Shows the first topic, the contents list focused.
  void ShowContents();

 private:
  QListWidget* topics_;
  QTextBrowser* text_;
};

}  // namespace qova
