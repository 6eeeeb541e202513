// bench_chooser [COUNT] [CORPUS_DIR]: the image chooser on a folder of COUNT (5,000) images
// copied from the corpus's camera files under numbered names. Prints the time from opening the
// chooser to its first screen of thumbnails (listed, and every thumbnail in view decoded) next
// to the time `cardwright exif` takes to read the same files, then how long the grid takes to
// paint each page while scrolling through the whole folder.
#include <sys/time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QLoggingCategory>
#include <QScrollBar>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "ui/image_chooser.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 5000;
  const fs::path corpus = argc > 2 ? argv[2] : CW_DEFAULT_CORPUS;
  std::vector<fs::path> sources;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(corpus, ec))
    if (e.is_regular_file()) sources.push_back(e.path());
  if (sources.empty()) {
    std::fprintf(stderr, "bench_chooser: no files in %s\n", corpus.c_str());
    return 1;
  }
  std::sort(sources.begin(), sources.end());
  const fs::path work =
      fs::temp_directory_path() / ("cardwright-chooser-" + std::to_string(getpid()));
  const fs::path folder = work / "DCIM/100BENCH";
  fs::create_directories(folder);
  for (int i = 0; i < count; ++i) {
    const fs::path& from = sources[static_cast<std::size_t>(i) % sources.size()];
    char name[64];
    std::snprintf(name, sizeof name, "IMG_%04d", i + 1);
    const fs::path to = folder / (name + from.extension().string());
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  }

  // The reference: the command-line program reading every file's EXIF values. The shell
  // lists the folder: thousands of full paths would make one command text longer than the
  // system passes to a program.
  const std::string command =
      "cd '" + folder.string() + "' && " + CW_CARDWRIGHT + " exif * >/dev/null 2>&1";
  const auto exif_start = std::chrono::steady_clock::now();
  const int exif_status = std::system(command.c_str());
  const double exif_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - exif_start)
          .count();

  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // Cut-short corpus files make the JPEG decoder complain about each one; the chooser shows
  // what it could decode.
  QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio.jpeg=false"));
  QElapsedTimer t;
  t.start();
  cw::ui::ImageChooser chooser(work.string(), false, "", nullptr);
  chooser.resize(1024, 768);
  chooser.show();
  while (!chooser.screen_complete() && t.elapsed() < 30000) {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::usleep(500);
  }
  const double first_screen_ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
  std::printf("images: %d (corpus-derived, %zu distinct files)\n", count, sources.size());
  std::printf("chooser first screen of thumbnails: %.0f ms (target: under 500 ms)\n",
              first_screen_ms);
  std::printf(
      "cardwright exif over the same files: %.0f ms (exit status %d; some corpus files are cut "
      "short)\n",
      exif_ms, exif_status);
  std::printf("ratio chooser/exif: %.3f\n", first_screen_ms / exif_ms);

  // Scrolling: each page is painted at once with the thumbnails at hand; those not yet decoded
  // show their placeholder and arrive later.
  QListView* view = chooser.findChild<QListView*>();
  QScrollBar* bar = view->verticalScrollBar();
  double worst = 0, total = 0;
  int pages = 0;
  while (bar->value() < bar->maximum()) {
    bar->setValue(bar->value() + bar->pageStep());
    QElapsedTimer paint;
    paint.start();
    view->viewport()->repaint();
    const double ms = static_cast<double>(paint.nsecsElapsed()) / 1e6;
    worst = std::max(worst, ms);
    total += ms;
    ++pages;
    QApplication::processEvents();
  }
  std::printf("scrolling: %d pages, paint %.2f ms per page on average, %.2f ms at worst\n", pages,
              pages ? total / pages : 0.0, worst);
  fs::remove_all(work, ec);
  return first_screen_ms < 30000 ? 0 : 1;
}
