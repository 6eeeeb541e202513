// `cardwright-gui`: the desktop program. Starts the session (per-user files, log, presets,
// database, templates, cameras) with the window's dialogs as its front end and shows the main
// window.
//
// --quit-when-shown prints the wall-clock time (milliseconds since the epoch) at which the main
// window was first painted and quits: the start-up benchmark reads it.
#include <malloc.h>

#include <QApplication>
#include <QDateTime>
#include <QIcon>
#include <QLoggingCategory>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "control/app_session.h"
#include "ui/main_window.h"
#include "ui/qt_user_interface.h"
#include "ui/window_fit.h"

namespace {

// Notes the first paint of the window it watches, then quits the program.
class FirstPaint : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && !seen_) {
      seen_ = true;
      std::printf("first-paint-epoch-ms %lld\n",
                  static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
      std::fflush(stdout);
      QTimer::singleShot(0, qApp, [watched] { static_cast<QWidget*>(watched)->close(); });
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  bool seen_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  // Where the C library's allocator is kept, one heap for every thread, as in the
  // command-line program: an ingestion's threads each allocate and free a little, and
  // per-thread heaps keep what one freed from the others. (Set before the toolkit or a run
  // starts a thread; nothing to jemalloc.)
  mallopt(M_ARENA_MAX, 1);
  bool quit_when_shown = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::printf(
          "Usage: cardwright-gui [--version] [--quit-when-shown]\n"
          "The Cardwright desktop program: ingests camera cards into the archive.\n");
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("cardwright-gui %s\n", cw::AppSession::version().c_str());
      return 0;
    }
    if (std::strcmp(argv[i], "--quit-when-shown") == 0) quit_when_shown = true;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Cardwright"));
  QApplication::setDesktopFileName(QStringLiteral("cardwright"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("cardwright")));
  // A damaged thumbnail shows as a placeholder; the decoder's complaint about it is not news.
  QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio.jpeg=false"));

  cw::ui::QtUserInterface ui;
  cw::AppSession session(ui, cw::kSessionDesktop);
  if (!session.ok()) return 1;
  cw::ui::WindowMemory memory;
  app.installEventFilter(&memory);
  cw::ui::MainWindowOptions options;
  // A timed start-up measures the window, not a user answering the assistant.
  options.first_run_assistant = !quit_when_shown;
  cw::ui::MainWindow window(session, ui, std::move(options));
  FirstPaint probe;
  if (quit_when_shown) window.installEventFilter(&probe);
  window.show();
  return app.exec();
}
