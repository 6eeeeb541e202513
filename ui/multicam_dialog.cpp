// The multi-camera shoot window.
#include "ui/multicam_dialog.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "control/app_session.h"
#include "control/start_flow.h"
#include "foundation/log.h"
#include "control/settings_access.h"
#include "ui/background.h"
#include "ui/folder_selection.h"
#include "ui/work_panel.h"

namespace cw::ui {

namespace {

QPushButton* named_button(const QString& text, const QString& name, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setAccessibleName(name);
  b->setAutoDefault(false);
  return b;
}

}  // namespace

MultiCameraDialog::MultiCameraDialog(AppSession& session, QWidget* parent)
    : QDialog(parent), session_(session), shoot_(session.ui()) {
  setWindowTitle(tr("Multi-Camera Shoot"));
  setAccessibleName(QStringLiteral("Multi-Camera Shoot"));
  auto* layout = new QVBoxLayout(this);

  auto* commands = new QHBoxLayout;
  choose_ = named_button(tr("C&hoose..."), QStringLiteral("Choose..."), this);
  clear_ = named_button(tr("Clear &Table"), QStringLiteral("Clear Table"), this);
  clear_adjustments_ =
      named_button(tr("Clear A&djustments"), QStringLiteral("Clear Adjustments"), this);
  sync_ = named_button(tr("&Sync Files"), QStringLiteral("Sync Files"), this);
  reingest_ = named_button(tr("&Re-Ingest"), QStringLiteral("Re-Ingest"), this);
  for (QPushButton* b : {choose_, clear_, clear_adjustments_}) commands->addWidget(b);
  commands->addStretch(1);
  commands->addWidget(sync_);
  write_exif_times_ = new QCheckBox(tr("Write corrected dates into the copies' E&XIF"), this);
  write_exif_times_->setAccessibleName(QStringLiteral("Write corrected dates into EXIF"));
  write_exif_times_->setToolTip(
      tr("Re-Ingest writes the corrected capture dates into the EXIF of the archived copies; "
         "the image files here and the pre-conversion backup keep the camera's dates."));
  commands->addWidget(write_exif_times_);
  commands->addWidget(reingest_);
  layout->addLayout(commands);

  auto* parent_row = new QHBoxLayout;
  parent_row->addWidget(new QLabel(tr("Parent Folder:"), this));
  parent_ = new QLabel(this);
  parent_->setAccessibleName(QStringLiteral("Parent Folder"));
  parent_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  parent_row->addWidget(parent_, 1);
  layout->addLayout(parent_row);

  grid_ = new GridView(this);
  grid_->setAccessibleName(QStringLiteral("Folders"));
  grid_->grid().sort_rows = [this](int column) {
    shoot_.sort_by(static_cast<MultiCamColumn>(column));
    show_table();
  };
  layout->addWidget(grid_, 1);
  note_ = new QLabel(this);
  note_->setAccessibleName(QStringLiteral("Note"));
  layout->addWidget(note_);

  adjustments_ = new QGroupBox(tr("Date/Time Adjustments"), this);
  auto* al = new QHBoxLayout(adjustments_);
  date_ = new QDateEdit(adjustments_);
  date_->setAccessibleName(QStringLiteral("Date"));
  date_->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
  date_->setCalendarPopup(true);
  date_->setMinimumWidth(date_->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00")) + 48);
  time_ = new QTimeEdit(adjustments_);
  time_->setAccessibleName(QStringLiteral("Time"));
  time_->setDisplayFormat(QStringLiteral("HH:mm:ss"));
  auto* label = new QLabel(tr("First Selected Start Date/Time:"), adjustments_);
  label->setBuddy(date_);
  auto* adjust = named_button(tr("&Adjust"), QStringLiteral("Adjust"), adjustments_);
  auto* reset = named_button(tr("Rese&t"), QStringLiteral("Reset"), adjustments_);
  al->addWidget(label);
  al->addWidget(date_);
  al->addWidget(time_);
  al->addWidget(adjust);
  al->addWidget(reset);
  al->addStretch(1);
  layout->addWidget(adjustments_);

  work_ = new WorkPanel(this);
  layout->addWidget(work_);
  auto* bottom = new QHBoxLayout;
  close_ = named_button(tr("Close"), QStringLiteral("Close"), this);
  bottom->addStretch(1);
  bottom->addWidget(close_);
  layout->addLayout(bottom);

  connect(choose_, &QPushButton::clicked, this, [this] {
    const std::string start = session_.settings().master().get_str("PrimaryFolder").value_or("");
    if (shoot_.choose(start, folder_picker(this, tr("Select all folders containing images for "
                                                    "the multi-camera shoot."))))
      show_table();
  });
  connect(clear_, &QPushButton::clicked, this, [this] {
    shoot_.clear_table();
    show_table();
  });
  connect(clear_adjustments_, &QPushButton::clicked, this, [this] {
    shoot_.clear_adjustments();
    show_table();
  });
  connect(sync_, &QPushButton::clicked, this, &MultiCameraDialog::sync);
  connect(reingest_, &QPushButton::clicked, this, [this] {
    StartRequest request;
    if (shoot_.reingest_request(request) && request.chosen_images)
      Q_EMIT reingest(*request.chosen_images, request.source, request.capture_shifts,
                      write_exif_times_->isChecked());
  });
  connect(adjust, &QPushButton::clicked, this, &MultiCameraDialog::adjust);
  connect(reset, &QPushButton::clicked, this, &MultiCameraDialog::show_selection);
  connect(grid_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &MultiCameraDialog::show_selection);
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);

  show_table();
  resize(960, 560);
}

void MultiCameraDialog::reject() {
  if (!work_->running()) QDialog::reject();  // a sync in progress ends first
}

void MultiCameraDialog::show_table() {
  // The selection is kept by folder across the new order.
  std::vector<std::string> selected;
  for (int row : grid_->selected_rows())
    if (row >= 0 && static_cast<std::size_t>(row) < rows_.size())
      selected.push_back(rows_[static_cast<std::size_t>(row)][0]);
  rows_.clear();
  for (const ImageFolderInfo& f : shoot_.folders()) rows_.push_back(MultiCamera::row_texts(f));
  std::vector<GridColumn> columns;
  const int widths[] = {340, 150, 150, 80, 70};
  for (int i = 0; i < 5; ++i) columns.push_back({tr(kMultiCamHeaders[i]), widths[i]});
  grid_->show_rows(std::move(columns), &rows_);
  grid_->horizontalHeader()->setStretchLastSection(false);
  grid_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  {
    // The shoot keeps its own order, always ascending.
    const QSignalBlocker quiet(grid_->horizontalHeader());
    grid_->horizontalHeader()->setSortIndicator(static_cast<int>(shoot_.sort_column()),
                                                Qt::AscendingOrder);
  }
  for (std::size_t i = 0; i < rows_.size(); ++i)
    if (std::find(selected.begin(), selected.end(), rows_[i][0]) != selected.end())
      grid_->selectionModel()->select(grid_->grid().index(static_cast<int>(i), 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
  pending_ = shoot_.pending_count() > 0;
  parent_->setText(QString::fromStdString(shoot_.parent_folder()));
  note_->setText(QString::fromStdString(shoot_.note()));
  note_->setVisible(!shoot_.note().empty());
  show_selection();
}

// The date and time fields show the start of the first selected folder.
void MultiCameraDialog::show_selection() {
  if (work_->running()) return;  // the shoot belongs to the sync until it ends
  const std::vector<int> selected = grid_->selected_rows();
  adjustments_->setVisible(!selected.empty());
  if (!selected.empty()) {
    const ImageFolderInfo& f = shoot_.folders()[static_cast<std::size_t>(selected.front())];
    const QDateTime start = QDateTime::fromSecsSinceEpoch(f.image_count > 0 ? f.start : 0);
    date_->setDate(start.date());
    time_->setTime(start.time());
  }
  update_controls();
}

void MultiCameraDialog::adjust() {
  std::vector<std::size_t> rows;
  for (int row : grid_->selected_rows()) rows.push_back(static_cast<std::size_t>(row));
  const std::string target_text =
      (date_->date().toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ') +
       time_->time().toString(QStringLiteral("HH:mm:ss")))
          .toStdString();
  const std::optional<std::time_t> target = parse_local_time(target_text);
  if (!target) {
    alert_printf("%s is not a time on this computer's clock (summer time skips it).",
                 target_text.c_str());
    return;
  }
  if (shoot_.adjust(rows, *target)) show_table();
}

void MultiCameraDialog::sync() {
  // The question and the writing run on a worker (the question is asked on this thread for
  // it); meanwhile the grid shows the texts taken before, and nothing here touches the shoot.
  work_->begin(tr("Synchronizing file times..."), true);
  update_controls();
  MultiCamera* shoot = &shoot_;
  WorkPanel* panel = work_;
  std::shared_ptr<const std::atomic<bool>> stop = work_->stop_flag();
  run_in_background(
      this,
      [shoot, panel, stop] {
        return shoot->sync_files([panel, stop](int done, int total) {
          panel->progress(done, total);
          return stop->load();
        });
      },
      [this](const std::optional<SyncCounts>&) {
        work_->end();
        show_table();
      });
}

void MultiCameraDialog::update_controls() {
  const bool idle = !work_->running();
  const bool listed = !rows_.empty();
  const bool pending = pending_;
  choose_->setEnabled(idle);
  clear_->setEnabled(idle && listed);
  clear_adjustments_->setEnabled(idle && pending);
  sync_->setEnabled(idle && pending);
  reingest_->setEnabled(idle && listed && !pending);
  adjustments_->setEnabled(idle);
  grid_->setEnabled(idle);
  close_->setEnabled(idle);
}

}  // namespace cw::ui
