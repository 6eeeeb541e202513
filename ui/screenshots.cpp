// cardwright-screenshots: writes a PNG of each window in a realistic state, for review.
//
//   cardwright-screenshots OUT_DIR WORK_DIR [CORPUS_DIR]
//
// WORK_DIR holds the cards scripts/screenshots made: "card" (a small card), "big" (a card that
// takes a few seconds) and "other" (a second small card). The program runs in the private HOME
// the script gives it: it ingests "card" through the main window (grabbed again at 1366x768,
// and again with a file left on the card and with a broken JPEG, for the verdict's three
// states), shows the first-run assistant's pages and the card choice, runs the monitor on three
// cards and a broken one, opens the image chooser on the corpus (or on "card") and on "mixed"
// (archived images beside new raws with previews, and one raw large), the preferences
// and the preset editor, then the tool windows: the database on a history of ingestions, the
// macro laboratory, the log, the examiner, GPS input with a loaded track, a multi-camera shoot
// of three cameras with a pending adjustment, the folder selection and the disc burner; it
// grabs each window.
#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "control/app_session.h"
#include "control/demo_history.h"
#include "control/drive_snapshot.h"
#include "control/ingestion_run.h"
#include "control/run_end.h"
#include "control/settings_access.h"
#include "control/settings_presets.h"
#include "ui/choice_dialog.h"
#include "ui/database_window.h"
#include "ui/disc_burner.h"
#include "ui/examine_dialog.h"
#include "ui/first_run_assistant.h"
#include "ui/folder_selection.h"
#include "ui/gps_window.h"
#include "ui/grid.h"
#include "ui/image_chooser.h"
#include "ui/log_viewer.h"
#include "ui/macro_lab.h"
#include "ui/main_window.h"
#include "ui/monitor_dialog.h"
#include "ui/multicam_dialog.h"
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
    return question == "Include checkmarks in preset?" ||
           question.find("Adjust Date/Time?") != std::string::npos;
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

// The control with this accessible name below `root`.
template <typename T>
T* named(QWidget& root, const char* name) {
  for (T* w : root.findChildren<T*>())
    if (w->accessibleName() == QLatin1String(name)) return w;
  return nullptr;
}

bool save(QWidget& w, const std::string& out, const char* name) {
  if (w.layout()) w.layout()->activate();
  QApplication::processEvents();
  const std::string path = out + "/" + name;
  const bool ok = w.grab().save(QString::fromStdString(path));
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.c_str());
  return ok;
}

// Three cameras' folders of the same event, each camera's clock off by its own amount.
std::vector<std::string> make_shoot(const std::string& work) {
  namespace fs = std::filesystem;
  const std::string shoot = work + "/Shoot";
  const std::pair<const char*, int> cameras[] = {
      {"Canon_R5", 0}, {"Nikon_Z8", -3630}, {"Fuji_X-T5", 7200 + 42}};
  std::vector<std::string> folders;
  const auto base = fs::file_time_type::clock::now() - std::chrono::hours(24 * 12);
  for (const auto& [name, skew] : cameras) {
    const std::string folder = shoot + "/" + name;
    fs::create_directories(folder);
    int n = 0;
    for (const auto& e : fs::recursive_directory_iterator(work + "/card/DCIM")) {
      if (!e.is_regular_file() || e.path().extension() != ".JPG") continue;
      const fs::path target = fs::path(folder) / e.path().filename();
      fs::copy_file(e.path(), target, fs::copy_options::overwrite_existing);
      fs::last_write_time(target, base + std::chrono::seconds(skew + 95 * n++));
    }
    folders.push_back(folder);
  }
  return folders;
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
  // One card reader with the small card in it.
  DriveSnapshot::Drive reader;
  reader.root = work + "/card";
  reader.dcim = true;
  reader.volume.name = "EOS_DIGITAL";
  reader.device.vendor = "Generic";
  reader.device.product = "SD Reader";
  SessionServices services;
  services.drives = [reader] {
    return std::make_unique<DriveSnapshot>(DriveSnapshot::of({reader}));
  };
  AppSession session(ui, kSessionDesktop, std::move(services));
  if (!session.ok()) return 1;

  CWParam& param = session.settings();
  put_preset_value(param, PresetKind::Destination, "PrimaryFolder", work + "/Photos");
  put_preset_value(param, PresetKind::Destination, "WantBackup", "0");
  put_preset_value(param, PresetKind::File, "FilenamePrefix", "ANN");
  put_preset_value(param, PresetKind::Master, "CardFolder", work + "/card/DCIM");
  put_preset_value(param, PresetKind::Master, "qf_Event", "Garden wedding");
  put_preset_value(param, PresetKind::Master, "qf_Venue", "Old Mill, Hallstead");
  save_master(param);
  save_preset_value(param, ui, PresetKind::Content, kDefaultName, "Headline", "{@qf.Event}");
  save_preset_value(param, ui, PresetKind::Content, kDefaultName, "Location", "{@qf.Venue}");
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

  MainWindowOptions options;
  options.update_check = false;
  options.launch = [](const std::string&, const std::vector<std::string>&) { return true; };
  MainWindow window(session, ui, std::move(options));
  window.show();
  // After the first show, which places the window on the (small) offscreen screen.
  window.resize(1000, 780);
  wait_until([&] { return window.drives_known(); }, 5000);
  int status = 0;

  // The main window after an ingestion, with its report and the verdict above it; then on a
  // 1366x768 screen.
  window.start_ingestion(false);
  if (!save(window, out, "main-window.png")) status = 1;
  if (!save(window, out, "banner-safe.png")) status = 1;
  {
    const QSize before = window.size();
    window.resize(1366, 768);
    if (!save(window, out, "main-window-1366x768.png")) status = 1;
    window.resize(before);
  }

  // The first-run assistant's pages, filled in as a new user would, with the card in the
  // reader for the name example. Closed without saving.
  {
    FirstRunAssistant assistant(session, window.card_state().card_path, &window);
    bool ready = false;
    QObject::connect(&assistant, &FirstRunAssistant::example_ready, [&] { ready = true; });
    assistant.show();
    wait_until([&] { return ready; }, 10000);
    named<QLineEdit>(assistant, "Backup folder")->setText(QString::fromStdString(work + "/Backup"));
    if (!save(assistant, out, "first-run-1-folders.png")) status = 1;
    assistant.next();
    named<QComboBox>(assistant, "Name format")
        ->setCurrentText(QStringLiteral("{@datetimeany,1,8}_{@filename}"));
    if (!save(assistant, out, "first-run-2-names.png")) status = 1;
    assistant.next();
    named<QLineEdit>(assistant, "Creator")->setText(QStringLiteral("Ann Lee"));
    named<QLineEdit>(assistant, "Copyright")->setText(QStringLiteral("\u00a9 2026 Ann Lee"));
    if (!save(assistant, out, "first-run-3-creator.png")) status = 1;
    assistant.reject();
  }

  // The card choice with a card and a camera: every line whole.
  {
    ChoiceDialog choice(QStringLiteral("Ingest from ..."), QString(),
                        {"Card: " + work + "/card (EOS_DIGITAL, Generic SD Reader)",
                         "Device: Z 8 (USB camera, 2 storage cards)", "Other..."},
                        &window);
    choice.show();
    if (!save(choice, out, "card-choice.png")) status = 1;
  }

  // The same card again with a file the extension filter leaves on it, then with a JPEG that
  // does not decode: the verdict not yet safe, then the run's error. The card is put back after.
  {
    namespace fs = std::filesystem;
    const std::string folder = work + "/card/DCIM/100CWRGT";
    const std::string voice = folder + "/VOICE_0001.MP3", broken = folder + "/IMG_0099.JPG";
    std::FILE* f = std::fopen(voice.c_str(), "wb");
    if (f) std::fclose(f);
    window.start_ingestion(false);
    if (!save(window, out, "banner-not-yet.png")) status = 1;
    f = std::fopen(broken.c_str(), "wb");
    if (f) {
      std::fputs("\xff\xd8 not a picture", f);
      std::fclose(f);
    }
    put_preset_value(param, PresetKind::Master, "WantJPEGVerify", "1");
    window.start_ingestion(false);
    if (!save(window, out, "banner-error.png")) status = 1;
    put_preset_value(param, PresetKind::Master, "WantJPEGVerify", "0");
    fs::remove(voice);
    fs::remove(broken);
  }

  // The monitor: two cards done, one broken, one unticked, one still copying.
  {
    IngestionRun run(session);
    StartRequest r;
    r.cards_mode = true;
    if (!run.prepare(r).run) return 1;
    CardMonitor& monitor = run.monitor();
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
    // Every image starts ticked; a few are left out.
    chooser.model().set_ticked({1, 4, 8}, false);
    if (!save(chooser, out, "image-chooser.png")) status = 1;
  }
  // The chooser on a card with images the main window's run archived and new JPEG and raw
  // pictures, the ledger's marks shown.
  if (std::filesystem::is_directory(work + "/mixed/DCIM")) {
    ImageChooser chooser(work + "/mixed/DCIM", false, "", &window, &session);
    chooser.resize(980, 700);
    chooser.show();
    wait_until([&] { return chooser.marks_known() && chooser.screen_complete(); }, 10000);
    if (!save(chooser, out, "chooser-previews.png")) status = 1;
    // The large view of the first raw, as Space shows it.
    auto* view = chooser.findChild<QListView*>();
    for (int r = 0; view && r < view->model()->rowCount(); ++r)
      if (view->model()->index(r, 0).data().toString().endsWith(QStringLiteral(".CR2"))) {
        view->setCurrentIndex(view->model()->index(r, 0));
        break;
      }
    if (QDialog* large = chooser.preview_current()) {
      auto* picture = large->findChild<QLabel*>(QStringLiteral("Picture"));
      wait_until([&] { return picture && !picture->pixmap().isNull(); }, 10000);
      if (!save(*large, out, "chooser-large-view.png")) status = 1;
      large->close();
    }
  }

  {
    PreferencesDialog prefs(ui, &window);
    prefs.show();
    if (!save(prefs, out, "preferences.png")) status = 1;
  }
  {
    PresetEditor editor(param, ui, &window);
    editor.show();
    editor.show_tab(QStringLiteral("Destination"));
    if (!save(editor, out, "presets-destination.png")) status = 1;
    editor.show_tab(QStringLiteral("File Handling"));
    if (!save(editor, out, "presets-file-handling.png")) status = 1;
    editor.show_tab(QStringLiteral("Keywords"));
    if (!save(editor, out, "presets-keywords.png")) status = 1;
  }

  // The database window on the ingestion history.
  record_demo_history(session);
  {
    DatabaseWindow database(session, &window);
    database.show();
    database.show_table(QStringLiteral("Ingestions"), QStringLiteral("All records"));
    bool loaded = false;
    QObject::connect(&database, &DatabaseWindow::loaded, [&] { loaded = true; });
    wait_until([&] { return loaded; }, 10000);
    database.grid().selectRow(2);
    if (!save(database, out, "database.png")) status = 1;
  }

  // The macro laboratory with a real image, and one mistyped macro.
  {
    MacroLab lab(session, &window);
    lab.show();
    const std::string image = work + "/card/DCIM/100CWRGT/IMG_0002.JPG";
    lab.use_image(QString::fromStdString(image));
    named<QPlainTextEdit>(lab, "Specification")
        ->setPlainText(
            QStringLiteral("{@prefix,1,-1,_}{@datetimeany,1,8}_{@exif.Model}_{@filename,-4}\n"
                           "{@datetimeany,1,4}/{@datetimeanymonth}/{@qf.Event}\n"
                           "Headline: {@iptc.Headline} at {@qf.Venue}\n"
                           "Taken on a {@datetimeanyweekday} with {@model}"));
    if (!save(lab, out, "macro-lab.png")) status = 1;
  }

  // The log window on this session's log, at its end.
  {
    LogViewer log(session.paths().log, [](const std::string&, const std::vector<std::string>&) {
      return false;
    }, &window);
    log.show();
    bool loaded = false;
    QObject::connect(&log, &LogViewer::loaded, [&] { loaded = true; });
    wait_until([&] { return loaded; }, 20000);
    if (!save(log, out, "log-viewer.png")) status = 1;
  }

  // The examiner on a camera file.
  {
    ExamineDialog examine(session, &window);
    examine.show();
    bool done = false;
    QObject::connect(&examine, &ExamineDialog::examined, [&] { done = true; });
    const std::string file = corpus.empty() ? work + "/card/DCIM/100CWRGT/IMG_0001.JPG"
                                            : corpus + "/camera/DSC_3079.jpg";
    examine.examine(QString::fromStdString(file));
    wait_until([&] { return done; }, 20000);
    if (!save(examine, out, "examine.png")) status = 1;
  }

  // GPS input with a track loaded, camera in Berlin (a zone by name, its summer time from the
  // zone database) and 42 seconds slow.
  {
    put_preset_value(param, PresetKind::File, "WantGPS", "1");
    put_preset_value(param, PresetKind::File, "CameraZone", "Europe/Berlin");
    put_preset_value(param, PresetKind::File, "CameraZoneDST", "1");
    put_preset_value(param, PresetKind::File, "CameraAdjustEXIF", "1715940000");
    put_preset_value(param, PresetKind::File, "CameraAdjustActual", "1715940042");
    GpsWindow gps(session, true, &window);
    gps.show();
    const std::string track = corpus.empty() ? "" : corpus + "/gps/Geotag.gpx";
    if (!track.empty()) {
      bool done = false;
      QObject::connect(&gps, &GpsWindow::load_ended, [&] { done = true; });
      gps.load({track}, "");
      wait_until([&] { return done; }, 20000);
    }
    if (!save(gps, out, "gps-input.png")) status = 1;
    // The question a LOG file of fixes without a date puts.
    TrackDateQuestion question(QDate(2024, 5, 17), &gps);
    question.show();
    if (!save(question, out, "gps-track-date.png")) status = 1;
    session.discard_gps();
    put_preset_value(param, PresetKind::File, "WantGPS", "0");
  }

  // A multi-camera shoot: the Nikon's hour put right (pending), the Fuji's two hours next.
  const std::vector<std::string> shoot_folders = make_shoot(work);
  {
    MultiCameraDialog shoot(session, &window);
    shoot.show();
    shoot.shoot().add_folders(shoot_folders);
    shoot.shoot().shift({0}, 3630);
    shoot.show_table();
    shoot.grid().selectRow(2);
    if (!save(shoot, out, "multicam.png")) status = 1;
  }
  {
    std::vector<std::string> names;
    for (const std::string& f : shoot_folders) names.push_back(std::filesystem::path(f).filename());
    names.push_back("Notes");
    FolderSelectionDialog select(
        QStringLiteral("Select all folders containing images for the multi-camera shoot."),
        work + "/Shoot", names, &window);
    select.show();
    auto* list = named<QListWidget>(select, "Folders");
    for (int i = 0; i < 3; ++i) list->item(i)->setSelected(true);
    if (!save(select, out, "folder-selection.png")) status = 1;
  }

  // The disc burner on the archive's folders, writing image files.
  {
    // In this run's own home: the run at another scale writes its own disc image.
    const std::string discs = QDir::homePath().toStdString() + "/Discs";
    std::filesystem::create_directories(discs);
    pref_put_text("BurnImageFolder", discs);  // image files instead of a recorder
    const std::unique_ptr<DiscSystem> images = burn_system();
    PlanRequest plan;
    plan.root = work;
    plan.folders = {"Photos", "Shoot"};
    plan.title = "Selected Folders";
    plan.subfolders = true;
    DiscBurner burner(plan, *images, &window);
    burner.show();
    bool ready = false;
    QObject::connect(&burner, &DiscBurner::ready, [&] { ready = true; });
    wait_until([&] { return ready; }, 20000);
    if (!save(burner, out, "disc-burner.png")) status = 1;
    bool burned = false;
    QObject::connect(&burner, &DiscBurner::disc_ended, [&] { burned = true; });
    named<QPushButton>(burner, "Burn")->click();
    wait_until([&] { return burned; }, 60000);
    if (!save(burner, out, "disc-burner-done.png")) status = 1;
  }
  window.close();
  return status;
}
