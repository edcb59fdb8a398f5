// The program: the Qt platform, the main window's logic and its window.

#include <QApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>
#include <cstdio>
#include <exception>

#include "app/form.h"
#include "app/gui/about_box_face.h"
#include "app/gui/main_window.h"
#include "app/gui/qt_platform.h"
#include "app/gui/tool_icons.h"

namespace {

void ShowFatal(const char* what) {
  std::fprintf(stderr, "QOVA: %s\n", what);
  QMessageBox::critical(nullptr, "QOVA", QString::fromUtf8(what));
}

// Every command is guarded by the form; an error that still escapes an event
// handler (outside any command) is shown, and the program ends.
class Application : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      ShowFatal(e.what());
    } catch (...) {
      ShowFatal("Unknown error");
    }
    std::exit(1);
  }
};

}  // namespace

int main(int argc, char** argv) {
  Application app(argc, argv);
  QApplication::setApplicationName("QOVA");
  // No display name: Qt would append it to the main window's caption.
  QApplication::setWindowIcon(qova::RunIcon());
  // The interface is Russian whatever the locale: Qt's own dialogs (file,
  // font) speak Russian too when Qt's translations are installed.
  QTranslator qtTexts;
  if (qtTexts.load("qtbase_ru", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QApplication::installTranslator(&qtTexts);
  try {
    qova::QtPlatform platform;
    qova::TVazeZududi_Form form(platform);
    qova::MainWindow window(form);
    platform.Attach(&window);
    app.installEventFilter(new qova::KeyForwarder(form, &window));
    form.Guarded([&] { form.FormCreate(); });
    qova::RegisterDialogFaces(platform.Faces());
    window.showMaximized();
    // "qova IMAGE", as the desktop entry starts it for a file.
    qova::OpenFromCommandLine(window, QApplication::arguments());
    const int code = app.exec();
    platform.Attach(nullptr);
    return code;
  } catch (const std::exception& e) {
    ShowFatal(e.what());
  } catch (...) {
    ShowFatal("Unknown error");
  }
  return 1;
}
