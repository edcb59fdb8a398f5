#pragma once
// Tests answer modal boxes and dialogs as a person would: a timer waits for
// the modal window to appear and then acts on it.

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

namespace qova::testing_gui {

// Runs act on the next modal window (one that is not `except`) once it is
// shown; gives up after about five seconds so a test fails instead of hanging.
inline void WhenModal(std::function<void(QWidget*)> act, QWidget* except = nullptr) {
  auto* timer = new QTimer;
  auto tries = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, tries, act, except] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal != except && modal->isVisible()) {
      timer->stop();
      timer->deleteLater();
      act(modal);
    } else if (++*tries > 500) {
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start(10);
}

}  // namespace qova::testing_gui
