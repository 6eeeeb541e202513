// The main window.
#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QFutureWatcher>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include "control/app_session.h"
#include "control/catalogue_move.h"
#include "control/folder_choice.h"
#include "control/image_choice.h"
#include "control/ingestion_run.h"
#include "control/log_services.h"
#include "control/naming_preview.h"
#include "control/run_end.h"
#include "control/settings_access.h"
#include "control/settings_presets.h"
#include "control/settings_setup.h"
#include "control/start_flow.h"
#include "foundation/log.h"
#include "ui/database_window.h"
#include "ui/record_choices.h"
#include "ui/desktop_notification.h"
#include "ui/disc_burner.h"
#include "ui/examine_dialog.h"
#include "ui/first_run_assistant.h"
#include "ui/folder_selection.h"
#include "ui/gps_window.h"
#include "ui/image_chooser.h"
#include "ui/log_viewer.h"
#include "ui/macro_lab.h"
#include "ui/monitor_dialog.h"
#include "ui/multicam_dialog.h"
#include "ui/preferences_dialog.h"
#include "ui/preset_editor.h"
#include "ui/qt_user_interface.h"
#include "ui/verdict_banner.h"
#include "ui/window_fit.h"

namespace cw::ui {

namespace {

constexpr int kUpdatePollMs = 250;
constexpr const char* kDisclaimer =
    "Cardwright copies your images and checks what it copied, but no program can promise that "
    "nothing goes wrong: keep the images on the card until they are in the archive and its "
    "backups. This program comes with no warranty.\n";

QString q(const std::string& s) { return QString::fromStdString(s); }

QLabel* value_label(QWidget* parent, const QString& name) {
  auto* l = new QLabel(parent);
  l->setAccessibleName(name);
  l->setTextInteractionFlags(Qt::TextSelectableByMouse);
  l->setWordWrap(true);
  return l;
}

}  // namespace

MainWindow::MainWindow(AppSession& session, QtUserInterface& ui, MainWindowOptions options)
    : session_(session), ui_(ui), options_(std::move(options)) {
  setWindowTitle(QStringLiteral("Cardwright"));
  setWindowIcon(QIcon::fromTheme(QStringLiteral("cardwright")));
  setAccessibleName(QStringLiteral("Cardwright"));
  ui_.set_window(this);
  connect(&ui_, &QtUserInterface::pane_text, this, &MainWindow::append_pane);
  connect(&ui_, &QtUserInterface::status_text, this, &MainWindow::set_status);
  build_menus();
  setCentralWidget(build_body());
  // Which catalogue this station records in, on the status line for as long as the program
  // runs (a changed preference takes effect at the next start).
  auto* catalogue = value_label(this, QStringLiteral("Catalogue"));
  catalogue->setWordWrap(false);
  catalogue->setText(q(catalogue_caption(session_)));
  statusBar()->addWidget(catalogue, 1);

  append_pane(ui_.take_early_pane());
  fill_presets();
  fill_quick_fields();
  choices_ = new RecordChoices(session_, client_, project_, card_, this);
  notes_->setText(q(pref_get_text("IngestionNotes")));
  starting_number_->setText(q(starting_number()));
  refresh_destination();
  if (options_.update_check) {
    update_ = automatic_update_check_async(AppSession::version());
    auto* poll = new QTimer(this);
    poll->setInterval(kUpdatePollMs);
    connect(poll, &QTimer::timeout, this, &MainWindow::poll_update_check);
    poll->start();
  }
  append_pane(QString::fromUtf8(kDisclaimer));
  show_card_state();
  small_screen_->setChecked(pref_get_int("SmallScreen") != 0);
  apply_small_screen(small_screen_->isChecked());

  worker_ = new DriveWorker(session_, this);
  connect(worker_, &DriveWorker::drives_read, this, &MainWindow::on_drives);
  connect(worker_, &DriveWorker::ejected, this, [this](bool handled) {
    if (eject_done_.empty()) return;
    auto done = std::move(eject_done_.front());
    eject_done_.pop_front();
    done(handled);
  });
  worker_->start();
}

MainWindow::~MainWindow() { ui_.set_window(nullptr); }

// ---------------------------------------------------------------- building the window

void MainWindow::build_menus() {
  QMenu* tools = menuBar()->addMenu(tr("&Tools"));
  connect(tools->addAction(tr("&Database...")), &QAction::triggered, this,
          &MainWindow::open_database);
  connect(tools->addAction(tr("&Macro Lab...")), &QAction::triggered, this,
          &MainWindow::open_macro_lab);
  connect(tools->addAction(tr("M&ulti-Camera...")), &QAction::triggered, this,
          &MainWindow::open_multicam);
  connect(tools->addAction(tr("&Examine...")), &QAction::triggered, this,
          &MainWindow::open_examine);
  connect(tools->addAction(tr("&GPS Input...")), &QAction::triggered, this,
          [this] { open_gps(false); });
  connect(tools->addAction(tr("&Burn Discs...")), &QAction::triggered, this,
          &MainWindow::burn_discs);
  tools->addSeparator();
  connect(tools->addAction(tr("&Presets...")), &QAction::triggered, this,
          [this] { open_presets(tr("Destination")); });
  connect(tools->addAction(tr("&Keywords...")), &QAction::triggered, this,
          [this] { open_presets(tr("Keywords")); });
  tools->addSeparator();
  connect(tools->addAction(tr("&View Log")), &QAction::triggered, this, &MainWindow::open_log);
  connect(tools->addAction(tr("&Clear Log")), &QAction::triggered, this,
          [this] { clear_log(session_.ui(), session_.paths().log); });
  tools->addSeparator();
  small_screen_ = tools->addAction(tr("&Small Screen"));
  small_screen_->setCheckable(true);
  connect(small_screen_, &QAction::toggled, this, [this](bool on) {
    pref_put_int("SmallScreen", on ? 1 : 0);
    apply_small_screen(on);
  });
  QAction* prefs = tools->addAction(tr("P&references..."));
  prefs->setMenuRole(QAction::PreferencesRole);
  connect(prefs, &QAction::triggered, this, &MainWindow::open_preferences);
  tools->addSeparator();
  QAction* quit = tools->addAction(tr("&Quit"));
  quit->setShortcut(QKeySequence::Quit);
  connect(quit, &QAction::triggered, this, &QWidget::close);

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  connect(help->addAction(tr("Check for &Update")), &QAction::triggered, this,
          &MainWindow::check_for_update_now);
  QAction* site = help->addAction(tr("Cardwright &Web Site"));
  site->setEnabled(false);  // no address is configured for this build
  connect(help->addAction(tr("&About Cardwright")), &QAction::triggered, this,
          &MainWindow::show_about);
}

QWidget* MainWindow::build_body() {
  auto* body = new QWidget(this);
  auto* layout = new QVBoxLayout(body);

  // The source: which card is in, and what Start would do.
  auto* source = new QGroupBox(tr("Source"), body);
  auto* sl = new QHBoxLayout(source);
  card_text_ = value_label(source, QStringLiteral("Card"));
  QFont card_font = card_text_->font();
  card_font.setPointSizeF(card_font.pointSizeF() * 1.15);
  card_text_->setFont(card_font);
  status_ = value_label(source, QStringLiteral("Status"));
  QFont bold = status_->font();
  bold.setBold(true);
  status_->setFont(bold);
  status_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  status_->setWordWrap(false);
  sl->addWidget(card_text_, 1);
  sl->addWidget(status_);
  layout->addWidget(source);

  // Settings and record choices.
  auto* choices = new QGroupBox(tr("Ingestion"), body);
  auto* grid = new QGridLayout(choices);
  auto add = [&](int row, int col, const QString& label, QWidget* w) {
    auto* l = new QLabel(label, choices);
    l->setBuddy(w);
    grid->addWidget(l, row, col);
    grid->addWidget(w, row, col + 1);
  };
  master_ = new QComboBox(choices);
  master_->setAccessibleName(QStringLiteral("Master preset"));
  client_ = new QComboBox(choices);
  client_->setAccessibleName(QStringLiteral("Client"));
  project_ = new QComboBox(choices);
  project_->setAccessibleName(QStringLiteral("Project"));
  card_ = new QComboBox(choices);
  card_->setAccessibleName(QStringLiteral("Card record"));
  notes_ = new QLineEdit(choices);
  notes_->setAccessibleName(QStringLiteral("Notes"));
  notes_->setPlaceholderText(tr("Notes for the next ingestion ({@notes})"));
  starting_number_ = new QLineEdit(choices);
  starting_number_->setAccessibleName(QStringLiteral("Starting number"));
  starting_number_->setValidator(new QIntValidator(0, 999999999, starting_number_));
  for (QComboBox* c : {master_, client_, project_, card_}) {
    c->setMinimumContentsLength(14);
    c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  }
  add(0, 0, tr("&Master preset:"), master_);
  add(0, 2, tr("C&lient:"), client_);
  add(1, 0, tr("Card &record:"), card_);
  add(1, 2, tr("Pro&ject:"), project_);
  add(2, 0, tr("&Notes:"), notes_);
  add(2, 2, tr("Starting n&umber:"), starting_number_);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  layout->addWidget(choices);

  // The quick fields the presets' specifications use ({@qf.LABEL}), filled in per ingestion.
  quick_ = new QGroupBox(tr("Quick Fields"), body);
  new QGridLayout(quick_);
  layout->addWidget(quick_);

  // Where the images will go.
  destination_ = new QGroupBox(tr("Destination"), body);
  auto* form = new QFormLayout(destination_);
  primary_ = value_label(destination_, QStringLiteral("Primary folder"));
  backup_ = value_label(destination_, QStringLiteral("Backup folder"));
  backup_post_ = value_label(destination_, QStringLiteral("Post-conversion backup folder"));
  first_name_ = value_label(destination_, QStringLiteral("First image"));
  form->addRow(tr("Archive:"), primary_);
  form->addRow(tr("Backup (pre-conversion):"), backup_);
  form->addRow(tr("Backup (post-conversion):"), backup_post_);
  form->addRow(tr("First image:"), first_name_);
  layout->addWidget(destination_);

  // The commands.
  auto* buttons = new QHBoxLayout;
  start_ = new QPushButton(tr("&Start"), body);
  start_->setAccessibleName(QStringLiteral("Start"));
  QFont big = start_->font();
  big.setPointSizeF(big.pointSizeF() * 1.4);
  big.setBold(true);
  start_->setFont(big);
  start_->setMinimumHeight(start_->sizeHint().height() * 2);
  start_->setMinimumWidth(220);
  cards_ = new QPushButton(tr("&Cards..."), body);
  cards_->setAccessibleName(QStringLiteral("Cards..."));
  thumbs_ = new QPushButton(tr("&Thumbs..."), body);
  thumbs_->setAccessibleName(QStringLiteral("Thumbs..."));
  eject_ = new QPushButton(tr("&Eject"), body);
  eject_->setAccessibleName(QStringLiteral("Eject"));
  buttons->addWidget(start_, 2);
  for (QPushButton* b : {cards_, thumbs_, eject_}) {
    b->setMinimumHeight(start_->minimumHeight());
    buttons->addWidget(b, 1);
  }
  layout->addLayout(buttons);

  verdict_ = new VerdictBanner(body);
  layout->addWidget(verdict_);
  pane_ = new QPlainTextEdit(body);
  pane_->setAccessibleName(QStringLiteral("Report"));
  pane_->setReadOnly(true);
  pane_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  pane_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  pane_->setMinimumHeight(160);
  layout->addWidget(pane_, 1);

  connect(start_, &QPushButton::clicked, this,
          [this] { start_ingestion(false, std::exchange(pending_source_, std::string())); });
  connect(cards_, &QPushButton::clicked, this, [this] { start_ingestion(true); });
  connect(thumbs_, &QPushButton::clicked, this, &MainWindow::choose_images);
  connect(eject_, &QPushButton::clicked, this, &MainWindow::eject_card_now);
  for (int key : {Qt::Key_Return, Qt::Key_Enter}) {
    auto* shortcut = new QShortcut(QKeySequence(key), this);
    connect(shortcut, &QShortcut::activated, this, [this] {
      if (start_->isEnabled() && isActiveWindow() && !QApplication::activeModalWidget())
        start_->click();
    });
  }
  connect(master_, &QComboBox::activated, this, [this] {
    if (!select_preset(session_.settings(), session_.ui(), PresetKind::Master,
                       master_->currentText().toStdString()))
      fill_presets();
    fill_quick_fields();
    refresh_destination();
  });
  connect(starting_number_, &QLineEdit::editingFinished, this, [this] {
    if (!starting_number_->text().isEmpty())
      set_starting_number(starting_number_->text().toStdString());
    refresh_destination();
  });
  return body;
}

// ---------------------------------------------------------------- pane and status

void MainWindow::append_pane(const QString& text) {
  if (text.isEmpty()) return;
  QScrollBar* bar = pane_->verticalScrollBar();
  const bool at_end = bar->value() >= bar->maximum();
  const int kept = bar->value();
  QTextCursor end(pane_->document());
  end.movePosition(QTextCursor::End);
  end.insertText(text);
  // A reader who scrolled up keeps the place; one at the end follows the report.
  bar->setValue(at_end ? bar->maximum() : kept);
}

void MainWindow::set_status(const QString& text) { status_->setText(text); }

// ---------------------------------------------------------------- cards

void MainWindow::on_drives(const SnapshotPtr& snapshot,
                           const std::vector<MediaNotification>& changes) {
  const bool first = !snapshot_;
  snapshot_ = snapshot;
  if (notifications_suspended_) return;
  bool auto_start = false;
  if (first || changes.empty()) {
    DetectCard(*snapshot_, card_state_);
  } else {
    const bool auto_ingest = session_.settings().master().get_int("AutoIngest") != 0;
    // Arrivals first: a card that replaced another still counts as an arrival.
    for (MediaEvent kind : {MediaEvent::kInserted, MediaEvent::kRemoved})
      for (const MediaNotification& n : changes)
        if (n.event == kind && on_media_notification(*snapshot_, card_state_, n,
                                                     notifications_suspended_, auto_ingest))
          auto_start = true;
  }
  session_.recorded_card.reset();
  if (!card_state_.card_path.empty())
    session_.recorded_card = RecordedCard{card_state_.card_path, card_state_.card_label};
  show_card_state();
  refresh_destination();
  // A first start: the assistant, once the card in the reader (if any) is known.
  if (first && options_.first_run_assistant && archive_setup_due(session_.settings()))
    QTimer::singleShot(0, this, [this] { open_first_run(false); });
  if (auto_start && !busy_) QTimer::singleShot(0, this, [this] { start_ingestion(false); });
}

void MainWindow::show_card_state() {
  card_text_->setText(q(card_state_.card_text));
  if (!busy_) {
    set_status(q(chosen_ ? "Press Start to ingest chosen images" : card_state_.status_text));
    eject_->setEnabled(card_state_.eject_enabled());
  }
}

void MainWindow::request_eject(const std::vector<std::string>& roots,
                               std::function<void(bool)> done) {
  eject_done_.push_back(std::move(done));
  worker_->eject(roots);
}

void MainWindow::eject_card_now() {
  if (card_state_.card_path.size() < 2) return;
  eject_->setEnabled(false);
  set_status(tr("Ejecting..."));
  request_eject({card_root(card_state_.card_path)}, [this](bool handled) {
    if (!handled) alert_printf("Can't eject card");
    show_card_state();
  });
}

// ---------------------------------------------------------------- choices

void MainWindow::fill_presets() {
  CWPreset& m = session_.settings().master();
  std::vector<std::string> names = m.names();
  if (std::find(names.begin(), names.end(), kDefaultName) == names.end())
    names.insert(names.begin(), kDefaultName);
  if (std::find(names.begin(), names.end(), m.name) == names.end()) names.push_back(m.name);
  master_->clear();
  for (const std::string& n : names) master_->addItem(q(n));
  master_->setCurrentText(q(m.name));
}

void MainWindow::fill_quick_fields() {
  CWParam& param = session_.settings();
  param.rebuild_quick_fields();
  std::string overflow;
  if (!param.quick_fields_fit(overflow)) ui_print(overflow);
  auto* grid = static_cast<QGridLayout*>(quick_->layout());
  while (QLayoutItem* item = grid->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  const std::size_t shown =
      std::min(param.quick_field_labels.size(), static_cast<std::size_t>(kQuickFieldsShown));
  for (std::size_t i = 0; i < shown; ++i) {
    const std::string key = "qf_" + param.quick_field_labels[i];
    auto* edit = new QLineEdit(q(param.master().get_str(key).value_or("")), quick_);
    const QString label = q(param.quick_field_labels[i]);
    edit->setAccessibleName(QStringLiteral("Quick field ") + label);
    connect(edit, &QLineEdit::editingFinished, this, [this, key, edit] {
      session_.settings().master().put_str(key, edit->text().toStdString());
    });
    const int row = static_cast<int>(i / 2), col = static_cast<int>(i % 2) * 2;
    auto* l = new QLabel(label + QLatin1Char(':'), quick_);
    l->setBuddy(edit);
    grid->addWidget(l, row, col);
    grid->addWidget(edit, row, col + 1);
  }
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  quick_->setVisible(shown > 0);
}

void MainWindow::refresh_destination() {
  CWPreset& m = session_.settings().master();
  auto folder = [&](const char* key, const char* wanted) {
    const std::string f = m.get_str(key).value_or("");
    QString text = f.empty() ? tr("(not set)") : q(f);
    if (wanted && m.get_int(wanted) == 0) text += tr("  [not used]");
    return text;
  };
  primary_->setText(folder("PrimaryFolder", nullptr));
  backup_->setText(folder("BackupFolder", "WantBackup"));
  backup_post_->setText(folder("BackupFolderPost", "WantBackupPost"));

  // The first image of the card is found on a worker thread; the name is made here, where the
  // presets live.
  const std::string card = card_state_.card_path;
  const int generation = ++preview_generation_;
  if (card.empty()) {
    first_name_->setText(tr("(insert a card to see the name of its first image)"));
    return;
  }
  bool include = false;
  const std::string extensions = m.extensions(include);
  auto* watcher = new QFutureWatcher<std::vector<ChoiceImage>>(this);
  connect(watcher, &QFutureWatcher<std::vector<ChoiceImage>>::finished, this,
          [this, watcher, generation] {
            const std::vector<ChoiceImage> images = watcher->result();
            watcher->deleteLater();
            if (generation != preview_generation_) return;
            if (images.empty()) {
              first_name_->setText(tr("(no images on the card)"));
              return;
            }
            first_name_->setText(
                tr("%1  (from %2)")
                    .arg(q(naming_preview(session_, images.front().path)), q(images.front().name)));
          });
  watcher->setFuture(QtConcurrent::run(
      [card, include, extensions] { return list_choice_images(card, include, extensions); }));
}

void MainWindow::store_choices() {
  pref_put_text("IngestionNotes", notes_->text().toStdString());
  if (!starting_number_->text().isEmpty())
    set_starting_number(starting_number_->text().toStdString());
}

// ---------------------------------------------------------------- ingestion

void MainWindow::start_ingestion(bool cards_mode, const std::string& source) {
  if (busy_) return;
  busy_ = true;
  store_choices();
  start_->setEnabled(false);
  eject_->setEnabled(false);
  pane_->clear();
  verdict_->clear();

  StartRequest request;
  request.cards_mode = cards_mode;
  request.source = source;
  if (chosen_ && cards_mode) {
    alert_printf(
        "Chosen or multi-camera-shoot image files will be ignored.\r\rThis feature is not "
        "available when you press the Cards button.");
  } else {
    request.chosen_images = chosen_;
    if (chosen_) {
      request.capture_shifts = chosen_shifts_;
      request.write_exif_times = chosen_exif_times_;
    }
  }
  choices_->put_into(request);
  request.notes = notes_->text().toStdString();
  request.gps_window = [this](AppSession&) { open_gps(true); };

  RunHooks hooks;
  hooks.launch = options_.launch;
  hooks.burn = [this](const std::vector<FolderBurn>& burns, int record_key) {
    const std::unique_ptr<DiscSystem> system = burn_system();
    for (const FolderBurn& burn : burns) {
      DiscBurner burner(burn_plan_request(burn, record_key), *system, this, session_);
      burner.exec();
    }
    return true;
  };
  // The eject waits on the drive worker's thread; the window goes on meanwhile.
  hooks.eject = [this](const std::string& folder) {
    request_eject({card_root(folder)}, [](bool handled) {
      if (!handled) alert_printf("Can't eject card");
    });
  };
  IngestionRun run(session_, std::move(hooks));
  const StartOutcome& start = run.prepare(request);
  if (start.stop == StartStop::kNoPrimaryFolder)
    QTimer::singleShot(0, this, [this] { open_first_run(true); });
  if (!start.run) {
    chosen_.reset();
    chosen_shifts_ = {};
    chosen_exif_times_ = false;
    re_enable();
    return;
  }
  MonitorHooks monitor_hooks;
  monitor_hooks.cards = [this] {
    return snapshot_ ? cards_for_monitor(*snapshot_) : std::vector<MonitorCard>{};
  };
  monitor_hooks.eject = [this](const std::vector<std::string>& roots, std::function<void()> done) {
    request_eject(roots, [done = std::move(done)](bool) { done(); });
  };
  {
    MonitorDialog dialog(run.monitor(), std::move(monitor_hooks), this);
    if (cards_mode) {
      notifications_suspended_ = true;
      dialog.refresh();
    } else {
      dialog.run_single(start.run->source);
    }
    dialog.exec();
  }
  notifications_suspended_ = false;
  const RunFinish finish = run.finish();
  verdict_->show_verdict(finish.outcome.end.verdict);
  show_verdict(pane_);
  notify_desktop(finish.success ? tr("Ingestion finished") : tr("Ingestion ended without success"),
                 status_->text());
  starting_number_->setText(q(starting_number()));
  chosen_.reset();
  chosen_shifts_ = {};
  chosen_exif_times_ = false;
  choices_->reload();
  re_enable();
  worker_->read_now();
  Q_EMIT ingestion_finished(finish.success);
}

void MainWindow::start_ingestion_of(std::vector<std::string> images, const std::string& source,
                                    const CaptureShifts& shifts, bool write_exif_times) {
  if (busy_) return;
  chosen_ = std::move(images);
  chosen_shifts_ = shifts;
  chosen_exif_times_ = write_exif_times;
  pending_source_.clear();
  start_ingestion(false, source);
}

void MainWindow::re_enable() {
  busy_ = false;
  start_->setEnabled(true);
  eject_->setEnabled(card_state_.eject_enabled());
  set_status(chosen_ ? tr("Press Start to ingest chosen images") : tr("Press Start to begin"));
}

void MainWindow::choose_images() {
  if (busy_) return;
  // What Escape in the chooser gives back: the choice and the status line as they were.
  const QString status_before = status_->text();
  auto chosen_before = std::move(chosen_);
  const CaptureShifts shifts_before = chosen_shifts_;
  const bool exif_times_before = chosen_exif_times_;
  const std::string pending_before = pending_source_;
  auto restore = [&] {
    chosen_ = std::move(chosen_before);
    chosen_shifts_ = shifts_before;
    chosen_exif_times_ = exif_times_before;
    pending_source_ = pending_before;
  };
  chosen_.reset();
  chosen_shifts_ = {};
  chosen_exif_times_ = false;
  pending_source_.clear();
  const std::string folder = chooser_folder(session_);
  if (folder.empty()) {  // no card chosen: the earlier choice stands
    restore();
    re_enable();
    return;
  }
  bool include = false;
  const std::string extensions = session_.settings().master().extensions(include);
  ImageChooser chooser(folder, include, extensions, this, &session_);
  const bool now = chooser.exec() == QDialog::Accepted;
  if (chooser.left_unchanged()) {
    restore();
    re_enable();
    set_status(status_before);
    return;
  }
  std::vector<std::string> chosen = chooser.chosen();
  if (!chosen.empty()) chosen_ = std::move(chosen);
  if (chosen_ && now) {
    start_ingestion(false, folder);
    return;
  }
  if (chosen_) pending_source_ = folder;
  re_enable();
}

// ---------------------------------------------------------------- menus

void MainWindow::open_presets(const QString& tab) {
  PresetEditor editor(session_.settings(), session_.ui(), this);
  editor.show_tab(tab);
  connect(&editor, &PresetEditor::presets_changed, this, &MainWindow::refresh_destination);
  editor.exec();
  fill_presets();
  fill_quick_fields();
  refresh_destination();
}

void MainWindow::open_database() {
  DatabaseWindow window(session_, this);
  window.exec();
  choices_->refresh();
}

void MainWindow::open_macro_lab() {
  store_choices();  // the notes the laboratory's {@notes} shows
  MacroLab lab(session_, this);
  lab.exec();
}

void MainWindow::open_examine() {
  store_choices();
  ExamineDialog examine(session_, this);
  QTimer::singleShot(0, &examine, &ExamineDialog::choose_file);
  examine.exec();
}

void MainWindow::open_gps(bool from_start) {
  GpsWindow window(session_, from_start, this);
  window.exec();
}

void MainWindow::open_multicam() {
  if (busy_) return;
  MultiCameraDialog shoot(session_, this);
  connect(&shoot, &MultiCameraDialog::reingest, this, &MainWindow::start_ingestion_of);
  shoot.exec();
}

void MainWindow::burn_discs() {
  const std::string start = session_.settings().master().get_str("PrimaryFolder").value_or("");
  const std::optional<PlanRequest> plan =
      choose_folders_to_burn(session_.ui(), start, folder_picker(this, tr("Select all folders to be burned.")));
  if (!plan) return;
  const std::unique_ptr<DiscSystem> system = burn_system();
  DiscBurner burner(*plan, *system, this, session_);
  burner.exec();
}

void MainWindow::open_preferences() {
  PreferencesDialog dialog(session_.ui(), this);
  if (dialog.exec() == QDialog::Accepted)
    small_screen_->setChecked(pref_get_int("SmallScreen") != 0);
}

void MainWindow::open_log() {
  store_choices();
  if (log_viewer_) {
    log_viewer_->show();
    log_viewer_->raise();
    log_viewer_->activateWindow();
    return;
  }
  // Not modal: the log follows a run that goes on in the main window.
  log_viewer_ = new LogViewer(session_.paths().log, options_.launch, this);
  log_viewer_->setAttribute(Qt::WA_DeleteOnClose);
  log_viewer_->show();
}

void MainWindow::open_first_run(bool then_start) {
  if (busy_ || !run_first_run_assistant(session_, card_state_.card_path, this)) return;
  fill_presets();
  fill_quick_fields();
  refresh_destination();
  if (then_start) start_ingestion(false);
}

void MainWindow::apply_small_screen(bool on) {
  destination_->setVisible(!on);
  pane_->setMinimumHeight(on ? 80 : 160);
  if (on) resize(minimumSizeHint());
}

void MainWindow::check_for_update_now() {
  auto* watcher = new QFutureWatcher<UpdateCheckResult>(this);
  connect(watcher, &QFutureWatcher<UpdateCheckResult>::finished, this, [watcher] {
    const UpdateCheckResult result = watcher->result();
    watcher->deleteLater();
    if (result.reply == UpdateReply::kNotConfigured)
      alert_printf("No update check address is set (Tools > Preferences).");
    else
      alert_printf("%s", manual_update_message(result).c_str());
  });
  const std::string url = pref_get_text("UpdateCheckURL");
  watcher->setFuture(QtConcurrent::run(
      [url] { return check_for_update(url, update_check_version(AppSession::version())); }));
}

void MainWindow::poll_update_check() {
  if (!update_.valid() || update_.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
    return;
  if (auto* timer = qobject_cast<QTimer*>(sender())) timer->stop();
  const std::optional<AutomaticUpdateText> text = update_.get();
  if (!text) return;
  ui_print(text->pane);
  if (text->message) alert_printf("%s", text->message->c_str());
}

void MainWindow::show_about() {
  QMessageBox::about(
      this, tr("About Cardwright"),
      tr("<h3>Cardwright %1</h3><p>Ingests images from camera cards into an organised, "
         "backed-up and annotated archive.</p><p>Your settings, database and run log: "
         "<br><tt>%2</tt></p>")
          .arg(q(AppSession::version()), q(session_.paths().user_folder).toHtmlEscaped()));
}

// ---------------------------------------------------------------- window placement, closing

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (placed_) return;
  placed_ = true;
  place_main_window(*this);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (busy_) {
    event->ignore();
    return;
  }
  CWParam& param = session_.settings();
  bool unsaved = false;
  for (const auto& p : param.presets) unsaved = unsaved || p->unsaved;
  if (unsaved && pref_get_int("PresetReminder") != 0 &&
      !ui_.ask_yes_no("You have one or more unsaved presets. OK to lose settings?")) {
    event->ignore();
    return;
  }
  store_choices();
  store_main_window_placement(*this);
  event->accept();
}

}  // namespace cw::ui
