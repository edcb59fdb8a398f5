// qova-drag-bench: the cost of one drag move of a region's corner on images of
// 1, 16, 64 and 1024 megapixels (2^20 pixels each; the largest needs about
// 1.3 GB), the median of repeated moves:
//   - the editor alone, a region of 600 × 400 pixels: what the move redraws
//     and the part of the image it repaints;
//   - the same with a region across the whole image, whose two moving edges
//     grow with the image's side;
//   - the full redraw of the overlay, made when the editor cannot tell what
//     changed (the whole view is then repainted);
//   - the real window offscreen, the move's redraw and the repaint of the view.
//
//   qova-drag-bench [--sizes 1,16,64,1024] [--moves N]
#include <QApplication>
#include <QMouseEvent>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/form.h"
#include "app/gui/image_view.h"
#include "app/gui/main_window.h"
#include "app/gui/qt_platform.h"
#include "bench/bench_support.h"
#include "editor/markers.h"
#include "editor/region_editor.h"
#include "platform/scripted_platform.h"

namespace qova {
namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds of each of `moves` calls, after a few to warm up.
std::vector<double> TimeMoves(int moves, const std::function<void(int)>& move) {
  for (int i = 0; i < 3; ++i) move(i);
  std::vector<double> ms;
  for (int i = 0; i < moves; ++i) {
    const auto start = Clock::now();
    move(i);
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  return ms;
}

struct Corners {
  QPoint c[4];
};

// A region of 600 × 400 pixels about the image centre, or one across the
// image, a tenth of its side from each border.
Corners SmallRegion(int side) {
  const int m = side / 2;
  return {{{m - 300, m - 200}, {m + 300, m - 190}, {m + 290, m + 200}, {m - 310, m + 190}}};
}
Corners WideRegion(int side) {
  const int a = side / 10, b = side - side / 10;
  return {{{a, a}, {b, a + 7}, {b - 5, b}, {a + 3, b - 4}}};
}

// The dragged corner goes back and forth over a few pixels.
QPoint DragTarget(QPoint corner, int i) { return corner + QPoint(1 + i % 9, 1 + i % 7); }

// The editor alone; `full` drops the overlay's note before every move, so
// that each move redraws the whole overlay as it used to.
double EditorMove(int side, const Corners& region, int moves, bool full) {
  ScriptedPlatform desktop;
  StateRecord s{desktop};
  s.ImageWidth = s.ImageHeight = side;
  s.RegionClosed = true;
  for (const QPoint& c : region.c) {
    Image1MouseDown(s, MouseButton::Left, false, c.x(), c.y());
    CrossImage1MouseUp(s, MouseButton::Left, false, c.x(), c.y());
  }
  const QPoint corner = region.c[2];
  Image1MouseDown(s, MouseButton::Left, false, corner.x(), corner.y());
  const auto ms = TimeMoves(moves, [&](int i) {
    if (full) s.OverlayHistory.reset();
    const QPoint to = DragTarget(corner, i);
    CrossImage1MouseMove(s, false, to.x(), to.y());
  });
  return Median(ms);
}

void SendMouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button,
               Qt::MouseButtons held) {
  QMouseEvent e(type, QPointF(at), w->mapToGlobal(QPointF(at)), button, held, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

// The real window offscreen at 1:1: a mouse move over the view, with the
// editor's redraw and the view's repaint.
double WindowMove(int side, const Corners& region, int moves) {
  QtPlatform platform;
  TVazeZududi_Form form(platform);
  MainWindow window(form);
  platform.Attach(&window);
  window.resize(1280, 900);
  window.show();
  form.ImageWidth = form.ImageHeight = side;
  QImage grey(side, side, QImage::Format_Grayscale8);
  grey.fill(200);
  form.SourceBitmap = CompactPicture::FromCompact(std::move(grey));
  form.Image1.Show(form.SourceBitmap);
  form.ResetRegions();
  platform.SetPreviewVisible(false);
  QWidget* layers = window.View()->Layers();
  for (const QPoint& c : region.c) {
    window.View()->ensureVisible(c.x(), c.y());
    SendMouse(layers, QEvent::MouseButtonPress, c, Qt::LeftButton, Qt::LeftButton);
    SendMouse(layers, QEvent::MouseButtonRelease, c, Qt::LeftButton, Qt::NoButton);
  }
  const QPoint corner = region.c[2];
  window.View()->ensureVisible(corner.x(), corner.y(), 200, 200);
  QApplication::processEvents();
  SendMouse(layers, QEvent::MouseButtonPress, corner, Qt::LeftButton, Qt::LeftButton);
  const auto ms = TimeMoves(moves, [&](int i) {
    SendMouse(layers, QEvent::MouseMove, DragTarget(corner, i), Qt::NoButton, Qt::LeftButton);
  });
  platform.Attach(nullptr);
  return Median(ms);
}

}  // namespace
}  // namespace qova

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  std::vector<int> sizes = {1, 16, 64, 1024};
  int moves = 101;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--sizes" && i + 1 < argc) {
      sizes = qova::ParseSizes(argv[++i]);
    } else if (arg == "--moves" && i + 1 < argc) {
      moves = std::atoi(argv[++i]);
    } else {
      sizes.clear();
    }
    if (sizes.empty() || moves < 1) {
      std::fprintf(stderr, "usage: qova-drag-bench [--sizes 1,16,64,1024] [--moves N]\n");
      return 2;
    }
  }
  std::printf("One drag move, median of %d moves, in milliseconds\n\n", moves);
  std::printf(
      "| image | side | editor, 600×400 region | editor, region across the image |"
      " full overlay redraw | window, 600×400 region |\n");
  std::printf("|---|---|---|---|---|---|\n");
  for (const int mp : sizes) {
    const int side = static_cast<int>(std::lround(std::sqrt(mp * 1048576.0)));
    const double small = qova::EditorMove(side, qova::SmallRegion(side), moves, false);
    const double wide = qova::EditorMove(side, qova::WideRegion(side), moves, false);
    const double full =
        qova::EditorMove(side, qova::SmallRegion(side), std::max(5, moves / 10), true);
    const double window = qova::WindowMove(side, qova::SmallRegion(side), moves);
    std::printf("| %d MP | %d | %.3f | %.3f | %.3f | %.3f |\n", mp, side, small, wide, full,
                window);
    std::fflush(stdout);
  }
  return 0;
}
