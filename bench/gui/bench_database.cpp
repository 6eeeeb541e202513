// bench_database [COUNT]: the database window on a history of COUNT (10,000) ingestions, in a
// private HOME that make_history fills. Prints the time from opening the window to its first
// screen of rows (the newest 1000), the time to show every ingestion ("All records", COUNT
// rows) and the time to sort them by image count, each against the target of 1 second.
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "control/app_session.h"
#include "database/database.h"
#include "ui/database_window.h"
#include "ui/grid.h"
#include "ui/qt_user_interface.h"

namespace fs = std::filesystem;

namespace {

// Runs the event loop until `done` holds (or 30 seconds have passed), then paints the rows in
// view; the milliseconds since `t` started.
double until_shown(QElapsedTimer& t, const std::function<bool()>& done, QWidget& rows) {
  while (!done() && t.elapsed() < 30000) {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::usleep(200);
  }
  rows.repaint();
  return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

void report(const char* what, double ms) {
  std::printf("%-44s %8.1f ms   (target 1000 ms: %s)\n", what, ms, ms < 1000 ? "met" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  std::string name = "cardwright-db-";
  name += std::to_string(getpid());
  const fs::path home = fs::temp_directory_path() / name;
  for (const char* var : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
    const fs::path dir = home / var;
    fs::create_directories(dir);
    setenv(var, dir.c_str(), 1);
  }
  setenv("HOME", home.c_str(), 1);
  std::string history = CW_MAKE_HISTORY;
  history += ' ';
  history += std::to_string(count);
  if (std::system(history.c_str()) != 0) return 1;

  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  cw::ui::QtUserInterface ui;
  cw::AppSession session(ui, cw::kSessionDatabase);
  if (!session.ok() || !session.database()) return 1;

  bool loaded = false;
  QElapsedTimer t;
  t.start();
  cw::ui::DatabaseWindow window(session);
  QObject::connect(&window, &cw::ui::DatabaseWindow::loaded, [&] { loaded = true; });
  window.show();
  cw::ui::GridView& grid = window.grid();
  report("Open the window (newest 1000 ingestions)",
         until_shown(
             t, [&] { return loaded; }, *grid.viewport()));
  const std::size_t newest = window.table() ? window.table()->result.row_count() : 0;

  loaded = false;
  t.restart();
  window.show_table(QStringLiteral("Ingestions"), QStringLiteral("All records"));
  const double all_ms = until_shown(
      t, [&] { return loaded; }, *grid.viewport());
  const std::size_t all = window.table() ? window.table()->result.row_count() : 0;
  std::string what = "Show all ";
  what += std::to_string(all);
  what += " ingestions";
  report(what.c_str(), all_ms);

  t.restart();
  grid.sortByColumn(7, Qt::DescendingOrder);
  report("Sort them by image count", until_shown(
                                         t, [] { return true; }, *grid.viewport()));
  t.restart();
  grid.scrollToBottom();
  report("Scroll to the last row", until_shown(
                                       t, [] { return true; }, *grid.viewport()));

  std::printf("rows: %zu newest, %zu in all (of %d recorded)\n", newest, all, count);
  fs::remove_all(home);
  return newest == std::min<std::size_t>(1000, static_cast<std::size_t>(count)) &&
                 all == static_cast<std::size_t>(count)
             ? 0
             : 1;
}
