// The GPS settings and track window.
#include "ui/gps_window.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include "control/app_session.h"
#include "control/gps_tracks.h"
#include "control/settings_access.h"
#include "foundation/log.h"
#include "foundation/zone_db.h"
#include "ui/background.h"
#include "ui/work_panel.h"

namespace cw::ui {

namespace {

constexpr const char* kTimeFormat = "yyyy-MM-dd HH:mm:ss";

// A clock field: camera times are read as if they were UTC, so the field shows them in UTC.
QDateTimeEdit* clock_field(QWidget* parent, const QString& name, qint64 seconds) {
  auto* edit = new QDateTimeEdit(parent);
  edit->setAccessibleName(name);
  edit->setTimeSpec(Qt::UTC);
  edit->setDisplayFormat(QString::fromUtf8(kTimeFormat));
  edit->setDateTime(QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC));
  edit->setCalendarPopup(true);
  edit->setMinimumWidth(
      edit->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00:00")) + 60);
  return edit;
}

}  // namespace

GpsWindow::GpsWindow(AppSession& session, bool from_start, QWidget* parent)
    : QDialog(parent), session_(session) {
  setWindowTitle(tr("GPS Input"));
  setAccessibleName(QStringLiteral("GPS Input"));
  const CWPreset& m = session_.settings().master();
  auto* layout = new QVBoxLayout(this);

  want_ = new QCheckBox(tr("&Tag the ingested images with positions from a GPS track"), this);
  want_->setAccessibleName(QStringLiteral("WantGPS"));
  want_->setChecked(m.get_int("WantGPS") != 0);
  layout->addWidget(want_);

  // The camera's clock.
  auto* clock = new QGroupBox(tr("Camera Clock"), this);
  auto* form = new QFormLayout(clock);
  form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
  // The list's entries, then the zones by name; typing searches both.
  zone_ = new QComboBox(clock);
  zone_->setAccessibleName(QStringLiteral("CameraZone"));
  zone_->setEditable(true);
  zone_->setInsertPolicy(QComboBox::NoInsert);
  zone_->setMaxVisibleItems(20);
  zone_->setMinimumContentsLength(30);
  zone_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  zone_->setToolTip(tr("Type part of a name to search: an entry of the list, or a zone such as "
                       "Europe/Berlin whose summer time the zone database knows"));
  zone_->addItem(tr("(not chosen: UTC)"), QStringLiteral("???"));
  for (const ZoneChoice& zone : listed_camera_zones())
    zone_->addItem(QString::fromStdString(zone.shown), QString::fromStdString(zone.stored));
  const ZoneChoice separator = camera_zone_separator();
  zone_->addItem(QString::fromStdString(separator.shown), QString::fromStdString(separator.stored));
  for (const std::string& name : zone_names())
    zone_->addItem(QString::fromStdString(name), QString::fromStdString(name));
  if (auto* items = qobject_cast<QStandardItemModel*>(zone_->model()))
    for (int i = 0; i < zone_->count(); ++i)
      if (zone_->itemData(i).toString() == QLatin1String("-")) items->item(i)->setEnabled(false);
  auto* search = new QCompleter(zone_->model(), zone_);
  search->setFilterMode(Qt::MatchContains);
  search->setCaseSensitivity(Qt::CaseInsensitive);
  search->setCompletionMode(QCompleter::PopupCompletion);
  search->setMaxVisibleItems(15);
  zone_->setCompleter(search);
  select_zone(m.get_str("CameraZone").value_or(""));
  dst_ = new QCheckBox(tr("The camera's clock was on &summer time (DST)"), clock);
  dst_->setAccessibleName(QStringLiteral("CameraZoneDST"));
  dst_->setChecked(m.get_int("CameraZoneDST") != 0);
  zone_note_ = new QLabel(clock);
  zone_note_->setAccessibleName(QStringLiteral("Zone note"));
  zone_note_->setWordWrap(true);
  zone_note_->setMinimumWidth(zone_->sizeHint().width());
  form->addRow(tr("Camera's time &zone:"), zone_);
  form->addRow(QString(), dst_);
  form->addRow(QString(), zone_note_);
  // Both stored times 0 (never set): both fields show now, which means no adjustment.
  qint64 showed = m.get_int("CameraAdjustEXIF"), actual = m.get_int("CameraAdjustActual");
  if (showed == 0 && actual == 0) {
    QDateTime now = QDateTime::currentDateTime();
    now.setTimeSpec(Qt::UTC);  // the wall clock's reading, as camera times are read
    showed = actual = now.toSecsSinceEpoch();
  }
  camera_time_ = clock_field(clock, QStringLiteral("CameraAdjustEXIF"), showed);
  true_time_ = clock_field(clock, QStringLiteral("CameraAdjustActual"), actual);
  adjustment_ = new QLabel(clock);
  adjustment_->setAccessibleName(QStringLiteral("Adjustment"));
  auto* hint = new QLabel(tr("Photograph a clock, or read the camera's clock and the true time "
                             "at the same moment:"),
                          clock);
  hint->setWordWrap(true);
  form->addRow(hint);
  form->addRow(tr("The camera &showed:"), camera_time_);
  form->addRow(tr("The true time &was:"), true_time_);
  form->addRow(QString(), adjustment_);
  layout->addWidget(clock);

  // Where the track comes from.
  auto* source = new QGroupBox(tr("Track Source"), this);
  auto* sl = new QVBoxLayout(source);
  auto* kinds = new QHBoxLayout;
  source_ = new QButtonGroup(this);
  const char* const kSources[] = {"GPX or LOG &files", "&Garmin receiver", "&Magellan receiver"};
  for (int i = 0; i < 3; ++i) {
    auto* b = new QRadioButton(tr(kSources[i]), source);
    b->setAccessibleName(QStringLiteral("GPSSource %1").arg(i));
    source_->addButton(b, i);
    kinds->addWidget(b);
    kinds->addSpacing(12);
  }
  kinds->addStretch(1);
  sl->addLayout(kinds);
  const int chosen = m.get_int("GPSSource");
  if (QAbstractButton* b = source_->button(chosen >= 0 && chosen <= 2 ? chosen : 0))
    b->setChecked(true);
  port_ = new QLineEdit(QString::fromStdString(m.get_str("GPSDevice").value_or("USB")), source);
  port_->setAccessibleName(QStringLiteral("GPSDevice"));
  port_->setToolTip(tr("USB, COM1 ... or a device such as /dev/ttyUSB0"));
  save_file_ = new QCheckBox(tr("&Keep the receiver's track in a GPX file"), source);
  save_file_->setAccessibleName(QStringLiteral("GPSSaveFile"));
  save_file_->setChecked(m.get_int("GPSSaveFile") != 0);
  port_->setMaximumWidth(200);
  auto* port_label = new QLabel(tr("&Port:"), source);
  port_label->setBuddy(port_);
  auto* receiver = new QHBoxLayout;
  receiver->addWidget(port_label);
  receiver->addWidget(port_);
  receiver->addSpacing(12);
  receiver->addWidget(save_file_);
  receiver->addStretch(1);
  sl->addLayout(receiver);
  layout->addWidget(source);

  // The loaded tracks.
  auto* loaded = new QGroupBox(tr("Loaded Tracks"), this);
  auto* ll = new QVBoxLayout(loaded);
  auto* commands = new QHBoxLayout;
  summary_ = new QLabel(loaded);
  summary_->setAccessibleName(QStringLiteral("Summary"));
  summary_->setWordWrap(true);
  load_ = new QPushButton(tr("&Load GPS Data..."), loaded);
  load_->setAccessibleName(QStringLiteral("Load GPS Data..."));
  discard_ = new QPushButton(tr("&Discard"), loaded);
  discard_->setAccessibleName(QStringLiteral("Discard"));
  commands->addWidget(summary_, 1);
  commands->addWidget(load_);
  commands->addWidget(discard_);
  ll->addLayout(commands);
  analysis_ = new QPlainTextEdit(loaded);
  analysis_->setAccessibleName(QStringLiteral("Analysis"));
  analysis_->setReadOnly(true);
  analysis_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  analysis_->setLineWrapMode(QPlainTextEdit::NoWrap);
  analysis_->setTabStopDistance(4 * analysis_->fontMetrics().horizontalAdvance(QLatin1Char(' ')));
  ll->addWidget(analysis_, 1);
  layout->addWidget(loaded, 1);

  work_ = new WorkPanel(this);
  layout->addWidget(work_);
  auto* buttons = new QHBoxLayout;
  close_ = new QPushButton(from_start ? tr("&Continue") : tr("OK"), this);
  close_->setAccessibleName(from_start ? QStringLiteral("Continue") : QStringLiteral("OK"));
  close_->setDefault(true);
  buttons->addStretch(1);
  buttons->addWidget(close_);
  layout->addLayout(buttons);
  for (QPushButton* b : {load_, discard_}) b->setAutoDefault(false);

  connect(want_, &QCheckBox::toggled, this, [this](bool on) { put("WantGPS", on ? "1" : "0"); });
  connect(zone_, &QComboBox::currentIndexChanged, this, [this] {
    put("CameraZone", zone_->currentData().toString().toStdString());
    zone_changed();
  });
  connect(zone_->lineEdit(), &QLineEdit::editingFinished, this, &GpsWindow::zone_typed);
  connect(dst_, &QCheckBox::toggled, this, [this](bool on) {
    put("CameraZoneDST", on ? "1" : "0");
    zone_changed();
  });
  for (QDateTimeEdit* edit : {camera_time_, true_time_})
    connect(edit, &QDateTimeEdit::dateTimeChanged, this, [this, edit] {
      put(edit == camera_time_ ? "CameraAdjustEXIF" : "CameraAdjustActual",
          std::to_string(edit->dateTime().toSecsSinceEpoch()));
      show_clock();
    });
  connect(source_, &QButtonGroup::idClicked, this, [this](int id) {
    put("GPSSource", std::to_string(id));
    update_controls();
  });
  connect(port_, &QLineEdit::editingFinished, this,
          [this] { put("GPSDevice", port_->text().trimmed().toStdString()); });
  connect(save_file_, &QCheckBox::toggled, this,
          [this](bool on) { put("GPSSaveFile", on ? "1" : "0"); });
  connect(load_, &QPushButton::clicked, this, &GpsWindow::choose_and_load);
  connect(discard_, &QPushButton::clicked, this, [this] {
    session_.discard_gps();
    show_loaded();
  });
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);

  show_clock();
  show_loaded();
  update_controls();
  resize(720, 760);
}

void GpsWindow::reject() {
  if (!work_->running()) QDialog::reject();  // a load in progress ends first
}

void GpsWindow::put(const char* key, const std::string& value) {
  put_gps_setting(session_, key, value);
}

// Tracks take the camera's zone when they are loaded: tracks loaded under another zone would
// place every image wrongly, so they are let go and the user loads them again.
void GpsWindow::zone_changed() {
  show_zone_note();
  if (!session_.gps_tracks()) return;
  session_.discard_gps();
  show_loaded();
  summary_->setText(tr("The camera's zone changed: load the GPS data again."));
}

void GpsWindow::select_zone(const std::string& stored) {
  const QString data = QString::fromStdString(stored.empty() ? "???" : stored);
  int index = zone_->findData(data);
  if (index < 0) {  // typed as hours from UTC, or a zone file the tables do not list
    zone_->addItem(data, data);
    index = zone_->count() - 1;
  }
  zone_->setCurrentIndex(index);
}

// Text typed into the zone field, taken when it names a zone; anything else is not stored and
// the field shows the stored zone again.
void GpsWindow::zone_typed() {
  const QString typed = zone_->lineEdit()->text().trimmed();
  if (typed == zone_->itemText(zone_->currentIndex())) return;
  if (typed.isEmpty() || typed == zone_->itemText(0)) {
    zone_->setCurrentIndex(0);
    return;
  }
  if (std::optional<std::string> entry = camera_zone_of_text(typed.toStdString())) {
    select_zone(*entry);
    return;
  }
  // Part of one name only ("berlin"): that zone.
  int only = -1;
  for (int i = 1; i < zone_->count(); ++i)
    if (zone_->itemText(i).contains(typed, Qt::CaseInsensitive)) only = only == -1 ? i : -2;
  if (only > 0) {
    zone_->setCurrentIndex(only);
    return;
  }
  zone_->lineEdit()->setText(zone_->itemText(zone_->currentIndex()));
  show_zone_note();
  zone_note_->setText(tr("Unknown time zone '%1': the zone stays %2.")
                          .arg(typed, zone_->itemText(zone_->currentIndex())));
  zone_note_->setVisible(true);
}

// The summer-time box serves the list's entries; a zone by name knows its own summer time.
void GpsWindow::show_zone_note() {
  const std::string stored = zone_->currentData().toString().toStdString();
  std::string error;
  std::optional<CameraZone> zone = camera_zone_from_setting(stored, false, error);
  const CameraZone::Kind kind = zone ? zone->kind() : CameraZone::Kind::kUnset;
  dst_->setEnabled(!work_->running() && kind == CameraZone::Kind::kListed);
  if (!zone)
    zone_note_->setText(QString::fromStdString(error));
  else if (kind == CameraZone::Kind::kNamed)
    zone_note_->setText(tr("Summer time comes from the zone database for each picture "
                           "(the box above is not used)."));
  else if (kind == CameraZone::Kind::kUnset)
    zone_note_->setText(tr("Without a zone, the camera's times are taken as UTC."));
  else
    zone_note_->setText(QString());
  zone_note_->setVisible(!zone_note_->text().isEmpty());
}

void GpsWindow::show_clock() {
  const CameraClock clock = preset_camera_clock(session_);
  adjustment_->setText(QString::fromStdString(clock_adjustment_text(clock.adjustment)));
}

void GpsWindow::show_loaded() {
  const GPX* tracks = session_.gps_tracks();
  summary_->setText(tracks ? QString::fromStdString(tracks->summary()) : tr("No GPS data loaded."));
  analysis_->setPlainText(tracks ? QString::fromStdString(tracks->analysis()).trimmed()
                                 : QString());
  update_controls();
}

void GpsWindow::update_controls() {
  const bool idle = !work_->running();
  const bool receiver = source_->checkedId() != kGpsSourceFiles;
  port_->setEnabled(idle && receiver);
  save_file_->setEnabled(idle && receiver);
  load_->setText(receiver ? tr("&Read Receiver...") : tr("&Load GPS Data..."));
  for (QWidget* w :
       std::initializer_list<QWidget*>{want_, zone_, camera_time_, true_time_, load_, close_})
    w->setEnabled(idle);
  show_zone_note();
  for (QAbstractButton* b : source_->buttons()) b->setEnabled(idle);
  discard_->setEnabled(idle && session_.gps_tracks() != nullptr);
}

void GpsWindow::choose_and_load() {
  put("GPSDevice", port_->text().trimmed().toStdString());
  if (source_->checkedId() == kGpsSourceFiles) {
    QFileDialog chooser(this, tr("Choose GPS track files"));
    chooser.setAccessibleName(QStringLiteral("Track chooser"));
    chooser.setFileMode(QFileDialog::ExistingFiles);
    chooser.setNameFilter(tr("GPX/LOG Files (*.gpx *.GPX *.log *.LOG)"));
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
    std::vector<std::string> files;
    for (const QString& f : chooser.selectedFiles()) files.push_back(f.toStdString());
    load(files, std::string());
    return;
  }
  std::string save;
  if (save_file_->isChecked()) {
    QFileDialog chooser(this, tr("Keep the receiver's track in"));
    chooser.setAccessibleName(QStringLiteral("Track file chooser"));
    chooser.setAcceptMode(QFileDialog::AcceptSave);
    chooser.setNameFilter(tr("GPX File (*.gpx)"));
    chooser.setDefaultSuffix(QStringLiteral("gpx"));
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
    save = chooser.selectedFiles().front().toStdString();
  }
  load({}, save);
}

void GpsWindow::load(const std::vector<std::string>& files, const std::string& save_file,
                     const std::string& track_date) {
  const bool receiver = source_->checkedId() != kGpsSourceFiles;
  work_->begin(tr("Loading GPS data..."), receiver);
  update_controls();
  // The worker reads the master preset's GPS settings while this window, which alone could
  // change them, waits with its controls disabled.
  AppSession* session = &session_;
  std::shared_ptr<const std::atomic<bool>> stop = work_->stop_flag();
  run_in_background(
      this,
      [session, files, save_file, track_date, stop] {
        std::string message;
        const bool ok = session->load_gps(files, save_file, message,
                                          [stop] { return stop->load(); }, track_date);
        return std::make_pair(ok, message);
      },
      [this, files, save_file, track_date](const std::pair<bool, std::string>& done) {
        work_->end();
        if (!done.first && done.second == kUndatedFixesMessage && !files.empty() &&
            track_date.empty()) {
          // A logger's file is mostly last written on the day of its track.
          TrackDateQuestion question(
              QFileInfo(QString::fromStdString(files.front())).lastModified().date(), this);
          if (question.exec() == QDialog::Accepted) {
            load(files, save_file, question.track_date());
            return;
          }
        } else if (!done.first) {
          alert_printf("%s", done.second.c_str());
        }
        show_loaded();
        Q_EMIT load_ended(done.first);
      });
}

TrackDateQuestion::TrackDateQuestion(const QDate& suggested, QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Date of the Track"));
  setAccessibleName(QStringLiteral("Date of the Track"));
  auto* layout = new QVBoxLayout(this);
  auto* text = new QLabel(tr("The track file's fixes have no date: give the date of the track"),
                          this);
  layout->addWidget(text);
  date_ = new QDateEdit(this);
  date_->setAccessibleName(QStringLiteral("Track date"));
  date_->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
  date_->setCalendarPopup(true);
  date_->setDateRange(QDate(1969, 1, 1), QDate(2068, 12, 31));
  date_->setDate(suggested.isValid() ? suggested : QDate::currentDate());
  auto* row = new QFormLayout;
  row->addRow(tr("&Date:"), date_);
  layout->addLayout(row);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

std::string TrackDateQuestion::track_date() const {
  return track_date_of(date_->date().toString(Qt::ISODate).toStdString()).value_or("");
}

}  // namespace cw::ui
