// The disc burner window.
#include "ui/disc_burner.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "foundation/log.h"
#include "ui/background.h"
#include "ui/window_fit.h"

namespace cw::ui {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

QLabel* named_label(const QString& name, QWidget* parent) {
  auto* l = new QLabel(parent);
  l->setAccessibleName(name);
  return l;
}

struct PlanResult {
  bool ok = false;
  DiscSet set;
  std::string message;
};

struct OpenResult {
  bool ok = false;
  std::vector<std::string> types;
};

}  // namespace

DiscBurner::DiscBurner(PlanRequest plan, DiscSystem& system, QWidget* parent)
    : DiscBurner(OriginLookup(), std::move(plan), system, parent) {}

DiscBurner::DiscBurner(PlanRequest plan, DiscSystem& system, QWidget* parent, AppSession& session)
    : DiscBurner(OriginLookup([&session](DiscSet& set) { add_ledger_origins(session, set); }),
                 std::move(plan), system, parent) {}

DiscBurner::DiscBurner(OriginLookup origins, PlanRequest plan, DiscSystem& system, QWidget* parent)
    : QDialog(parent), plan_(std::move(plan)), system_(system), origins_(std::move(origins)) {
  setWindowTitle(tr("Cardwright Disc Burner"));
  setAccessibleName(QStringLiteral("Cardwright Disc Burner"));
  auto* layout = new QVBoxLayout(this);
  title_ = named_label(QStringLiteral("Set"), this);
  QFont big = title_->font();
  big.setPointSizeF(big.pointSizeF() * 1.2);
  big.setBold(true);
  title_->setFont(big);
  title_->setText(q(plan_.title));
  layout->addWidget(title_);

  auto* recorder = new QGroupBox(tr("Recorder"), this);
  auto* rl = new QVBoxLayout(recorder);
  recorders_ = new QComboBox(recorder);
  recorders_->setAccessibleName(QStringLiteral("Recorder"));
  rl->addWidget(recorders_);
  rl->addWidget(new QLabel(tr("Supported Disc Types:"), recorder));
  types_ = new QListWidget(recorder);
  types_->setAccessibleName(QStringLiteral("Supported Disc Types"));
  types_->setSelectionMode(QAbstractItemView::NoSelection);
  types_->setFocusPolicy(Qt::NoFocus);
  types_->setMaximumHeight(types_->fontMetrics().height() * 4);
  rl->addWidget(types_);
  layout->addWidget(recorder);

  status_ = named_label(QStringLiteral("Burn status"), this);
  status_->setWordWrap(true);
  status_->setMinimumHeight(status_->fontMetrics().height() * 2);
  disc_ = named_label(QStringLiteral("Disc"), this);
  layout->addWidget(disc_);
  layout->addWidget(status_);
  progress_ = new QProgressBar(this);
  progress_->setAccessibleName(QStringLiteral("Burn progress"));
  layout->addWidget(progress_);
  plan_view_ = new QTreeWidget(this);
  plan_view_->setAccessibleName(QStringLiteral("Discs"));
  plan_view_->setHeaderLabels({tr("Disc / folder"), tr("Files"), tr("Size"), tr("State")});
  plan_view_->setRootIsDecorated(true);
  plan_view_->setSelectionMode(QAbstractItemView::NoSelection);
  plan_view_->setFocusPolicy(Qt::NoFocus);
  plan_view_->header()->setStretchLastSection(false);
  plan_view_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  layout->addWidget(plan_view_, 1);
  figures_ = new QWidget(this);
  auto* fl = new QHBoxLayout(figures_);
  fl->setContentsMargins(0, 0, 0, 0);
  elapsed_ = named_label(QStringLiteral("Elapsed"), figures_);
  remaining_ = named_label(QStringLiteral("Remaining"), figures_);
  rate_ = named_label(QStringLiteral("Rate"), figures_);
  buffer_ = named_label(QStringLiteral("Buffer"), figures_);
  fl->addWidget(elapsed_);
  fl->addStretch(1);
  fl->addWidget(remaining_);
  fl->addStretch(1);
  fl->addWidget(rate_);
  fl->addStretch(1);
  fl->addWidget(buffer_);
  layout->addWidget(figures_);

  auto* buttons = new QHBoxLayout;
  burn_ = new QPushButton(tr("&Burn"), this);
  burn_->setAccessibleName(QStringLiteral("Burn"));
  close_ = new QPushButton(tr("Close"), this);
  close_->setAccessibleName(QStringLiteral("Close"));
  close_->setAutoDefault(false);
  buttons->addStretch(1);
  buttons->addWidget(burn_);
  buttons->addWidget(close_);
  layout->addLayout(buttons);

  burn_->setEnabled(false);
  recorders_->setEnabled(false);
  progress_->setRange(0, 0);
  figures_->setVisible(false);
  status_->setText(tr("Planning discs..."));
  connect(burn_, &QPushButton::clicked, this, [this] {
    if (!writer_) return;
    writer_->burn();
    show_view(writer_->view());  // Burn reads Cancel at once, not when the thread first reports
  });
  connect(close_, &QPushButton::clicked, this, &DiscBurner::close_set);
  connect(recorders_, &QComboBox::activated, this, [this](int index) {
    if (writer_ && writer_->select_recorder(static_cast<std::size_t>(index))) show_types();
  });
  resize(620, 560);
  // On a small or scaled screen the plan list gives up height, so that the title bar stays on
  // the screen.
  fit_to_screen(*this);

  // Planning lists every file of the folders: it runs on a worker.
  run_in_background(
      this,
      [plan = plan_] {
        PlanResult r;
        r.ok = plan_burn(plan, r.set, r.message);
        return r;
      },
      [this](PlanResult r) { planned(r.ok, std::move(r.set), r.message); });
}

DiscBurner::~DiscBurner() = default;  // the writer cancels a running write and waits for it

void DiscBurner::planned(bool ok, DiscSet set, const std::string& message) {
  progress_->setVisible(false);
  if (!ok) {
    log_printf("Failed to burn: %s", message.c_str());
    status_->setText(q(message));
    alert_printf("%s", plan_failure_text(message).c_str());
    Q_EMIT ready(false);
    return;
  }
  if (set.discs.empty()) {
    status_->setText(q(no_images_text()));
    alert_printf("%s", no_images_text());
    Q_EMIT ready(false);
    return;
  }
  // The ledger is read here, on the window's thread, which the database belongs to.
  if (origins_) origins_(set);
  WriterCallbacks callbacks;
  // The writer reports from its own thread: each view is carried to this one.
  callbacks.changed = [this](const WriterView& view) {
    QMetaObject::invokeMethod(
        this, [this, view] { show_view(view); }, Qt::QueuedConnection);
  };
  callbacks.write_ended = [this] {
    QMetaObject::invokeMethod(this, &DiscBurner::write_ended, Qt::QueuedConnection);
  };
  // What goes on which disc, as `cardwright disc plan` prints it.
  const QLocale locale;
  for (std::size_t i = 0; i < set.discs.size(); ++i) {
    const Disc& d = set.discs[i];
    std::size_t files = 0;
    for (const DiscFolder& f : d.folders) files += f.files.size();
    auto* disc = new QTreeWidgetItem(
        plan_view_, {q(disc_label(set, i)), QString::number(files),
                     locale.formattedDataSize(static_cast<qint64>(d.size)), QString()});
    for (const DiscFolder& f : d.folders) {
      auto* folder =
          new QTreeWidgetItem(disc, {q(f.name), QString::number(f.files.size()),
                                     locale.formattedDataSize(static_cast<qint64>(f.size))});
      for (int c = 1; c < 3; ++c) folder->setTextAlignment(c, Qt::AlignRight);
    }
    for (int c = 1; c < 3; ++c) disc->setTextAlignment(c, Qt::AlignRight);
  }
  if (plan_view_->topLevelItemCount() == 1) plan_view_->expandAll();
  for (int c = 1; c < 3; ++c) plan_view_->resizeColumnToContents(c);
  plan_view_->header()->resizeSection(
      3, plan_view_->fontMetrics().horizontalAdvance(tr("Writing")) + 24);
  writer_ = std::make_unique<DiscWriter>(std::move(set), system_, std::move(callbacks));
  status_->setText(tr("Looking for recorders..."));
  progress_->setVisible(true);
  // Listing the recorders and asking the first for its disc types wait on the drives.
  DiscWriter* writer = writer_.get();
  asking_ = true;  // the writer is the worker's until it answers
  run_in_background(
      this,
      [writer] {
        OpenResult r;
        r.ok = writer->open();
        if (r.ok) r.types = writer->supported_disc_types();
        return r;
      },
      [this](const OpenResult& r) {
        asking_ = false;
        opened(r.ok, r.types);
      });
}

void DiscBurner::opened(bool ok, const std::vector<std::string>& types) {
  progress_->setVisible(false);
  if (!ok) {
    status_->setText(tr("There were no writable devices detected!"));
    Q_EMIT ready(false);
    return;
  }
  for (const RecorderInfo& r : writer_->recorders()) recorders_->addItem(q(r.display), q(r.id));
  types_->clear();
  for (const std::string& t : types) types_->addItem(q(t));
  show_view(writer_->view());
  Q_EMIT ready(true);
}

void DiscBurner::show_types() {
  types_->clear();
  recorders_->setEnabled(false);
  DiscWriter* writer = writer_.get();
  asking_ = true;
  burn_->setEnabled(false);
  run_in_background(
      this, [writer] { return writer->supported_disc_types(); },
      [this](const std::vector<std::string>& types) {
        asking_ = false;
        for (const std::string& t : types) types_->addItem(q(t));
        show_view(writer_->view());
      });
}

void DiscBurner::show_view(const WriterView& view) {
  if (!writer_) return;
  status_->setText(q(view.status));
  const std::size_t discs = writer_->set().discs.size();
  disc_->setText(
      view.next_disc < discs
          ? tr("Disc %1 of %2: %3").arg(view.next_disc + 1).arg(discs).arg(q(view.disc_label))
          : tr("All %1 disc(s) written.").arg(discs));
  for (int i = 0; i < plan_view_->topLevelItemCount(); ++i) {
    const auto disc = static_cast<std::size_t>(i);
    plan_view_->topLevelItem(i)->setText(3, disc < view.next_disc ? tr("Written")
                                            : disc == view.next_disc
                                                ? (view.writing ? tr("Writing") : tr("Next"))
                                                : QString());
  }
  burn_->setText(view.writing ? tr("&Cancel") : tr("&Burn"));
  burn_->setAccessibleName(view.writing ? QStringLiteral("Cancel") : QStringLiteral("Burn"));
  burn_->setEnabled(!asking_ && (view.writing || view.burn_enabled));
  recorders_->setEnabled(!asking_ && !view.writing && recorders_->count() > 0);
  close_->setEnabled(!asking_ && !view.writing);
  progress_->setVisible(view.writing);
  if (view.progress_percent >= 0) {
    progress_->setRange(0, 100);
    progress_->setValue(view.progress_percent);
  } else {
    progress_->setRange(0, 0);
  }
  figures_->setVisible(view.writing && !view.elapsed_text.empty());
  elapsed_->setText(tr("Elapsed: %1").arg(q(view.elapsed_text)));
  remaining_->setText(tr("Remaining: %1").arg(q(view.remaining_text)));
  rate_->setText(q(view.rate_text));
  buffer_->setText(q(view.buffer_text));
}

void DiscBurner::write_ended() {
  if (!writer_) return;
  const bool ok = writer_->complete();
  const WriterView view = writer_->view();
  show_view(view);
  if (!ok && !view.retry_prompt.empty()) alert_printf("%s", view.retry_prompt.c_str());
  Q_EMIT disc_ended(ok);
}

bool DiscBurner::end_set() {
  // Not while a disc is written, nor while a worker still asks the recorders.
  if (asking_ || (writer_ && writer_->view().writing)) return false;
  if (writer_ && !closed_) writer_->close();
  closed_ = true;
  return true;
}

void DiscBurner::close_set() {
  if (end_set()) accept();
}

void DiscBurner::reject() {
  if (end_set()) QDialog::reject();  // Escape and the window's close button: as Close
}

}  // namespace cw::ui
