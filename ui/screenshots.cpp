// cardwright-screenshots: writes a PNG of each window in a realistic state, for review.
//
//   cardwright-screenshots OUT_DIR WORK_DIR [CORPUS_DIR]
//
// WORK_DIR holds the cards scripts/screenshots made: "card" (a small card), "big" (a card that
// takes a few seconds) and "other" (a second small card). The program runs in the private HOME
// the script gives it: it ingests "card" through the main window, runs the monitor on three
// cards and a broken one, opens the image chooser on the corpus (or on "card"), the preferences
// and the preset editor, and grabs each window.
#include <QApplication>
#include <QElapsedTimer>
#include <QLayout>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "control/app_session.h"
#include "control/card_monitor.h"
#include "control/start_flow.h"
#include "platform/fake_drive_source.h"
#include "settings/param.h"
#include "settings/preset_edit.h"
#include "settings/vocabulary.h"
#include "ui/image_chooser.h"
#include "ui/main_window.h"
#include "ui/monitor_dialog.h"
#include "ui/preferences_dialog.h"
#include "ui/preset_editor.h"
#include "ui/qt_user_interface.h"

namespace {

using namespace cw;
using namespace cw::ui;

// Messages go to standard error instead of waiting for a click.
class QuietUserInterface : public QtUserInterface {
 public:
  void alert(const std::string& text) override {
    std::fprintf(stderr, "[message] %s\n", text.c_str());
  }
  bool ask_yes_no(const std::string& question) override {
    return question == "Include checkmarks in preset?";
  }
};

// Runs the event loop until `done` holds or `ms` have passed.
bool wait_until(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
  return true;
}

bool save(QWidget& w, const std::string& out, const char* name) {
  if (w.layout()) w.layout()->activate();
  QApplication::processEvents();
  const std::string path = out + "/" + name;
  const bool ok = w.grab().save(QString::fromStdString(path));
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "Usage: cardwright-screenshots OUT_DIR WORK_DIR [CORPUS_DIR]\n");
    return 2;
  }
  const std::string out = argv[1], work = argv[2];
  const std::string corpus = argc > 3 ? argv[3] : "";
  QApplication app(argc, argv);
  QuietUserInterface ui;
  // A question nobody expected must not stop the program: it is named and closed.
  QTimer watchdog;
  QObject::connect(&watchdog, &QTimer::timeout, [] {
    if (QWidget* modal = QApplication::activeModalWidget();
        modal && !qobject_cast<MonitorDialog*>(modal)) {
      std::fprintf(stderr, "unexpected dialog \"%s\": closed\n",
                   modal->windowTitle().toUtf8().constData());
      modal->close();
    }
  });
  watchdog.start(2000);
  AppSession session(ui, kSessionDesktop);
  if (!session.ok()) return 1;

  CWParam& param = session.settings();
  put_preset_value(param, PresetKind::Destination, "PrimaryFolder", work + "/Photos");
  put_preset_value(param, PresetKind::Destination, "WantBackup", "0");
  put_preset_value(param, PresetKind::File, "FilenamePrefix", "ANN");
  put_preset_value(param, PresetKind::Master, "CardFolder", work + "/card/DCIM");
  put_preset_value(param, PresetKind::Master, "qf_Event", "Garden wedding");
  put_preset_value(param, PresetKind::Master, "qf_Venue", "Old Mill, Hallstead");
  save_master(param);
  set_preset_value(param, PresetKind::Content, kDefaultName, "Headline", "{@qf.Event}");
  set_preset_value(param, PresetKind::Content, kDefaultName, "Location", "{@qf.Venue}");
  Vocabulary vocabulary;
  for (const char* path : {"Keywords|Wedding|Ceremony", "Keywords|Wedding|Reception",
                           "Keywords|Family", "Catalog Sets|Portfolio"}) {
    std::vector<std::string> names;
    for (QString part : QString::fromUtf8(path).split(QLatin1Char('|')))
      names.push_back(part.toStdString());
    vocabulary.load(param.working_set());
    vocabulary.check_path(names, param.working_set());
  }
  save_vocabulary(param);

  auto drives = std::make_unique<FakeDriveSource>();
  drives->add_card(work + "/card", "EOS_DIGITAL", "Generic", "SD Reader");
  MainWindowOptions options;
  options.drives = std::move(drives);
  options.update_check = false;
  options.launch = [](const std::string&, const std::vector<std::string>&) { return true; };
  MainWindow window(session, ui, std::move(options));
  window.resize(1000, 780);
  window.show();
  wait_until([&] { return window.drives_known(); }, 5000);
  int status = 0;

  // The main window after an ingestion, with its report.
  window.start_ingestion(false);
  if (!save(window, out, "main-window.png")) status = 1;

  // The monitor: two cards done, one broken, one unticked, one still copying.
  {
    const StartOutcome start = [&] {
      StartRequest r;
      r.cards_mode = true;
      return prepare_ingestion(session, r);
    }();
    if (!start.run) return 1;
    CardMonitor monitor(monitor_setup(session, *start.run));
    MonitorHooks hooks;
    hooks.cards = [&] {
      return std::vector<MonitorCard>{{work + "/other", "NIKON D850", "SanDisk Extreme Pro"},
                                      {work + "/big", "EOS_DIGITAL", "Lexar Professional"},
                                      {work + "/broken", "NO NAME", "Generic Reader"},
                                      {work + "/card", "FUJI_X", "Generic Reader"}};
    };
    MonitorDialog dialog(monitor, hooks, &window);
    dialog.refresh();
    monitor.set_ticked(3, false);
    dialog.show();
    monitor.start();
    const bool caught = wait_until(
        [&] {
          const MonitorView v = monitor.snapshot();
          const SlotProgress& big = v.slots[1].progress;
          return v.slots[0].code == SlotCode::kFinished && v.slots[2].code == SlotCode::kFinished &&
                 big.files_done >= 3 && big.files_done < big.files_total &&
                 v.slots[1].phase_seconds > 0.6;
        },
        30000);
    if (!caught) std::fprintf(stderr, "the monitor's run did not reach the wanted state\n");
    dialog.update_view();
    if (!save(dialog, out, "monitor.png")) status = 1;
    monitor.stop();
    wait_until([&] { return !monitor.running(); }, 100000);
    dialog.close();
  }

  // The image chooser on the corpus's camera files.
  {
    const std::string folder = corpus.empty() ? work + "/card" : corpus + "/camera";
    ImageChooser chooser(folder, false, "", &window);
    chooser.resize(980, 700);
    chooser.show();
    wait_until([&] { return chooser.screen_complete(); }, 10000);
    std::vector<int> rows = {0, 2, 3, 7};
    chooser.model().set_ticked(rows, true);
    if (!save(chooser, out, "image-chooser.png")) status = 1;
  }

  {
    PreferencesDialog prefs(&window);
    prefs.show();
    if (!save(prefs, out, "preferences.png")) status = 1;
  }
  {
    PresetEditor editor(param, &window);
    editor.show();
    editor.show_tab(QStringLiteral("Destination"));
    if (!save(editor, out, "presets-destination.png")) status = 1;
    editor.show_tab(QStringLiteral("File Handling"));
    if (!save(editor, out, "presets-file-handling.png")) status = 1;
    editor.show_tab(QStringLiteral("Keywords"));
    if (!save(editor, out, "presets-keywords.png")) status = 1;
  }
  window.close();
  return status;
}
