// The program's main window: which cards are in (kept up to date from the drive worker), the
// master preset and the client, project and card the next ingestion is recorded under, where
// it will go (archive, backups, the name of the card's first image), one large Start, "Cards...",
// "Thumbs..." and "Eject", and the text pane that receives every report. The Tools and Help
// menus hold every command, the tool windows among them.
//
// Start drives the control layer's ingestion run (control/ingestion_run.h) and renders it: its
// questions as dialogs, its monitor in a dialog, its discs in the burner, its automatic eject
// on the drive worker, and a notification at the end.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/card_detection.h"
#include "control/update_check.h"
#include "control/viewer.h"
#include "foundation/capture_shift.h"
#include "ui/drive_worker.h"

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace cw {
class AppSession;
}

namespace cw::ui {

class LogViewer;
class QtUserInterface;
class RecordChoices;
class VerdictBanner;

// The drives watched and the eject are the session's.
struct MainWindowOptions {
  ProgramLauncher launch = launch_detached;  // the viewer and the log editor
  bool update_check = true;                  // the automatic update check at start-up
  bool first_run_assistant = true;  // offered when the program starts without an archive
};

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  MainWindow(AppSession& session, QtUserInterface& ui, MainWindowOptions options = {});
  ~MainWindow() override;

  // Start (with the pending source), Cards... and an automatic start call this.
  void start_ingestion(bool cards_mode, const std::string& source = {});
  // Ingests these images, in this order, from `source` (a multi-camera Re-Ingest).
  void start_ingestion_of(std::vector<std::string> images, const std::string& source,
                          const CaptureShifts& shifts = {}, bool write_exif_times = false);
  // "Thumbs...".
  void choose_images();
  // "Eject".
  void eject_card_now();
  const CardState& card_state() const { return card_state_; }
  // True once the drive worker's first snapshot has been shown.
  bool drives_known() const { return snapshot_ != nullptr; }

 Q_SIGNALS:
  // An ingestion started from this window has ended (its monitor closed, its outcome stored).
  void ingestion_finished(bool success);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void build_menus();
  QWidget* build_body();
  void append_pane(const QString& text);
  void set_status(const QString& text);
  void on_drives(const SnapshotPtr& snapshot, const std::vector<MediaNotification>& changes);
  void show_card_state();
  void request_eject(const std::vector<std::string>& roots, std::function<void(bool)> done);
  void fill_presets();
  void fill_quick_fields();
  void refresh_destination();
  void re_enable();
  void store_choices();
  void apply_small_screen(bool on);
  void open_presets(const QString& tab);
  void open_preferences();
  // The first-run assistant; `then_start` when Start found no archive, to go on once it is set.
  void open_first_run(bool then_start);
  // "View Log": the log window, one at a time.
  void open_log();
  void open_database();
  void open_macro_lab();
  void open_examine();
  // The GPS window; `from_start` when the Start flow asks for GPS data.
  void open_gps(bool from_start);
  void open_multicam();
  void burn_discs();
  void check_for_update_now();
  void poll_update_check();
  void show_about();

  AppSession& session_;
  QtUserInterface& ui_;
  MainWindowOptions options_;
  DriveWorker* worker_ = nullptr;
  SnapshotPtr snapshot_;
  CardState card_state_;
  bool notifications_suspended_ = false;
  bool busy_ = false;  // an ingestion is being started or runs
  std::deque<std::function<void(bool)>> eject_done_;
  std::string pending_source_;
  std::optional<std::vector<std::string>> chosen_;
  CaptureShifts chosen_shifts_;  // corrections of the chosen images' capture times
  bool chosen_exif_times_ = false;  // those corrections written into the copies' EXIF
  std::future<std::optional<AutomaticUpdateText>> update_;
  bool placed_ = false;
  int preview_generation_ = 0;

  QPointer<LogViewer> log_viewer_;
  QLabel *status_ = nullptr, *card_text_ = nullptr;
  QComboBox *master_ = nullptr, *client_ = nullptr, *project_ = nullptr, *card_ = nullptr;
  RecordChoices* choices_ = nullptr;  // the client, project and card-record selections
  QLineEdit *notes_ = nullptr, *starting_number_ = nullptr;
  QGroupBox* destination_ = nullptr;
  QGroupBox* quick_ = nullptr;
  QLabel *primary_ = nullptr, *backup_ = nullptr, *backup_post_ = nullptr, *first_name_ = nullptr;
  QPushButton *start_ = nullptr, *cards_ = nullptr, *thumbs_ = nullptr, *eject_ = nullptr;
  QPlainTextEdit* pane_ = nullptr;
  VerdictBanner* verdict_ = nullptr;  // above the pane: the last run's verdict
  QAction* small_screen_ = nullptr;
};

}  // namespace cw::ui
