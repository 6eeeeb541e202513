// The work strip of the tool windows.
#include "ui/work_panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace cw::ui {

namespace {
constexpr int kShowAfterMs = 300;
}

WorkPanel::WorkPanel(QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  text_ = new QLabel(this);
  text_->setAccessibleName(QStringLiteral("Work"));
  bar_ = new QProgressBar(this);
  bar_->setAccessibleName(QStringLiteral("Work progress"));
  bar_->setMinimumWidth(200);
  cancel_ = new QPushButton(tr("Cancel"), this);
  cancel_->setAccessibleName(QStringLiteral("Cancel work"));
  layout->addWidget(text_);
  layout->addWidget(bar_, 1);
  layout->addWidget(cancel_);
  connect(cancel_, &QPushButton::clicked, this, [this] {
    *stop_ = true;
    cancel_->setEnabled(false);
    text_->setText(tr("Stopping..."));
    Q_EMIT cancelled();
  });
  setVisible(false);
}

void WorkPanel::begin(const QString& text, bool cancellable) {
  running_ = true;
  stop_ = std::make_shared<std::atomic<bool>>(false);  // earlier work keeps its own flag
  shown_percent_ = -1;
  text_->setText(text);
  bar_->setRange(0, 0);
  cancel_->setVisible(cancellable);
  cancel_->setEnabled(cancellable);
  // Work that is over within a moment never shows the strip, so the window does not jump.
  const int started = ++started_;
  QTimer::singleShot(kShowAfterMs, this, [this, started] {
    if (running_ && started == started_) setVisible(true);
  });
}

void WorkPanel::progress(int done, int total) {
  // From a worker only a changed percentage is passed on, so a run over thousands of files
  // does not flood the window's thread.
  const int percent = total > 0 ? static_cast<int>(100LL * done / total) : -1;
  if (shown_percent_.exchange(percent) == percent) return;
  QMetaObject::invokeMethod(
      this,
      [this, percent] {
        if (!running_) return;
        if (percent < 0) {
          bar_->setRange(0, 0);
        } else {
          bar_->setRange(0, 100);
          bar_->setValue(percent);
        }
      },
      Qt::QueuedConnection);
}

void WorkPanel::end() {
  running_ = false;
  setVisible(false);
}

}  // namespace cw::ui
