// The ingestion monitor's window.
#include "ui/monitor_dialog.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "foundation/log.h"

namespace cw::ui {

namespace {

constexpr int kTickMs = 500;

QPushButton* button(const QString& text, const QString& name, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setAccessibleName(name);
  b->setAutoDefault(false);
  return b;
}

void set_colour(QLabel* label, const QColor& c) {
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, c);
  label->setPalette(p);
}

}  // namespace

QColor MonitorDialog::colour(const Rgb& rgb, const QPalette& palette) {
  // "Black" is the theme's own text colour, so the rows stay readable on a dark desktop.
  if (rgb == kSlotBlack) return palette.color(QPalette::WindowText);
  return QColor(rgb.r, rgb.g, rgb.b);
}

MonitorDialog::MonitorDialog(CardMonitor& monitor, MonitorHooks hooks, QWidget* parent)
    : QDialog(parent), monitor_(monitor), hooks_(std::move(hooks)) {
  setWindowTitle(tr("Ingestion Monitor"));
  setAccessibleName(QStringLiteral("Ingestion Monitor"));
  auto* layout = new QVBoxLayout(this);
  layout->setSizeConstraint(QLayout::SetMinimumSize);

  auto* top = new QHBoxLayout;
  status_ = new QLabel(this);
  status_->setAccessibleName(QStringLiteral("Monitor status"));
  QFont big = status_->font();
  big.setPointSizeF(big.pointSizeF() * 1.25);
  status_->setFont(big);
  indicator_ = new QProgressBar(this);
  indicator_->setAccessibleName(QStringLiteral("Activity"));
  // A thin busy bar that moves while cards are copied: a button-sized bar that only blinks
  // full and empty reads as a blank button.
  indicator_->setRange(0, 0);
  indicator_->setTextVisible(false);
  indicator_->setFixedSize(90, 8);
  indicator_->setToolTip(tr("Copying"));
  stop_ = button(tr("S&top"), QStringLiteral("Stop"), this);
  start_ = button(tr("&Start"), QStringLiteral("Start"), this);
  top->addWidget(status_, 1);
  top->addWidget(indicator_, 0, Qt::AlignVCenter);
  top->addWidget(stop_);
  top->addWidget(start_);
  layout->addLayout(top);

  QFont title_font = font();
  title_font.setPointSizeF(title_font.pointSizeF() * 1.2);
  title_font.setBold(true);
  for (int i = 0; i < kMonitorSlots; ++i) {
    Row& r = rows_[static_cast<std::size_t>(i)];
    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::StyledPanel);
    auto* grid = new QVBoxLayout(frame);
    grid->setContentsMargins(8, 6, 8, 6);
    auto* head = new QHBoxLayout;
    r.title = new QLabel(frame);
    r.title->setFont(title_font);
    r.title->setAccessibleName(QStringLiteral("Slot %1 title").arg(i + 1));
    r.ingest = new QCheckBox(tr("Ingest"), frame);
    r.ingest->setAccessibleName(QStringLiteral("Slot %1 ingest").arg(i + 1));
    head->addWidget(r.title, 1);
    head->addWidget(r.ingest);
    r.status = new QLabel(frame);
    QFont status_font = font();
    status_font.setBold(true);
    r.status->setFont(status_font);
    r.status->setAccessibleName(QStringLiteral("Slot %1 status").arg(i + 1));
    r.progress = new QProgressBar(frame);
    r.progress->setAccessibleName(QStringLiteral("Slot %1 progress").arg(i + 1));
    r.progress->setMinimumWidth(360);
    grid->addLayout(head);
    grid->addWidget(r.status);
    grid->addWidget(r.progress);
    r.box = frame;
    layout->addWidget(frame);
    connect(r.ingest, &QCheckBox::toggled, this, [this, i](bool on) {
      monitor_.set_ticked(i, on);
      update_view();
    });
  }

  auto* bottom = new QHBoxLayout;
  eject_ = button(tr("&Eject"), QStringLiteral("Eject"), this);
  refresh_ = button(tr("&Refresh"), QStringLiteral("Refresh"), this);
  close_ = button(tr("&Close"), QStringLiteral("Close"), this);
  bottom->addWidget(eject_);
  bottom->addStretch(1);
  bottom->addWidget(refresh_);
  bottom->addWidget(close_);
  layout->addLayout(bottom);
  layout->addStretch(1);

  connect(stop_, &QPushButton::clicked, this, [this] {
    monitor_.stop();
    update_view();
  });
  connect(start_, &QPushButton::clicked, this, [this] {
    monitor_.start();
    update_view();
  });
  connect(refresh_, &QPushButton::clicked, this, &MonitorDialog::refresh);
  connect(eject_, &QPushButton::clicked, this, &MonitorDialog::on_eject);
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);

  timer_ = new QTimer(this);
  timer_->setInterval(kTickMs);
  connect(timer_, &QTimer::timeout, this, &MonitorDialog::on_tick);
  timer_->start();
}

void MonitorDialog::run_single(const std::string& source) {
  single_ = true;
  monitor_.run_single(source);
  for (QPushButton* b : {start_, eject_, refresh_, close_}) b->hide();
  update_view();
  adjustSize();
}

void MonitorDialog::refresh() {
  monitor_.refresh(hooks_.cards ? hooks_.cards() : std::vector<MonitorCard>{});
  update_view();
  adjustSize();
}

void MonitorDialog::on_eject() {
  std::vector<std::string> roots;
  const MonitorView v = monitor_.snapshot();
  for (const SlotView& s : v.slots)
    if (s.filled) roots.push_back(s.root);
  if (roots.empty() || !hooks_.eject) return;
  ejecting_ = true;
  update_view();
  hooks_.eject(roots, [this] {
    ejecting_ = false;
    refresh();
    alert_printf("If cards remain mounted, press the Refresh button after a short wait.");
  });
}

void MonitorDialog::on_tick() {
  // The end of a run may show a message, whose own event loop runs this timer again: the
  // loop body must not run inside itself.
  if (in_tick_) return;
  in_tick_ = true;
  monitor_.tick();
  in_tick_ = false;
  update_view();
  if (single_ && !monitor_.running()) {
    timer_->stop();
    accept();
  }
}

void MonitorDialog::reject() {
  if (!monitor_.running() && !ejecting_) QDialog::reject();
}

void MonitorDialog::show_row(Row& r, const SlotView& s, bool single) {
  r.box->setVisible(s.filled);
  if (!s.filled) return;
  r.title->setText(QString::fromStdString(s.title));
  // The engine's status lines may end in a line break; a row shows one line.
  r.status->setText(QString::fromStdString(s.status_line).trimmed());
  set_colour(r.title, colour(s.title_colour, palette()));
  set_colour(r.status, colour(s.status_colour, palette()));
  r.ingest->setVisible(!single && s.check_visible);
  {
    const QSignalBlocker quiet(r.ingest);
    r.ingest->setChecked(s.ticked);
  }
  // The bar shows once the slot runs: files copied of all, rate and time left while copying,
  // a moving bar while the card is read and named, the files copied when done.
  const bool started = s.code == SlotCode::kStarting || s.code == SlotCode::kRunning ||
                       s.code == SlotCode::kFinished;
  const bool copied_any = s.progress.phase != ProgressPhase::kNone;
  r.progress->setVisible(s.ticked && started && (copied_any || !s.error));
  if (s.code == SlotCode::kFinished) {
    r.progress->setRange(0, 1);
    r.progress->setValue(1);
    r.progress->setFormat(tr("%1/%2 files").arg(s.progress.files_done).arg(s.progress.files_total));
  } else if (copied_any) {
    r.progress->setRange(0, std::max(1, s.progress.files_total));
    r.progress->setValue(s.progress.files_done);
    r.progress->setFormat(QString::fromStdString(format_progress(s.progress, s.phase_seconds)));
  } else {
    r.progress->setRange(0, 0);  // reading and naming: no count yet
    r.progress->setFormat(QString());
  }
}

void MonitorDialog::update_view() {
  const MonitorView v = monitor_.snapshot();
  status_->setText(QString::fromStdString(v.status_line).trimmed());
  indicator_->setVisible(v.indicator_visible);
  stop_->setEnabled(v.stop_enabled);
  start_->setEnabled(v.start_enabled && !ejecting_);
  eject_->setEnabled(v.eject_enabled && !ejecting_);
  refresh_->setEnabled(v.refresh_enabled && !ejecting_);
  close_->setEnabled(v.close_enabled && !ejecting_);
  for (int i = 0; i < kMonitorSlots; ++i) {
    Row& r = rows_[static_cast<std::size_t>(i)];
    r.ingest->setEnabled(!v.running);
    show_row(r, v.slots[static_cast<std::size_t>(i)], v.single_source);
  }
}

}  // namespace cw::ui
