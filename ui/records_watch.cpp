// The watch on the database's changes (see records_watch.h).
#include "ui/records_watch.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

#include "control/records.h"

namespace cw::ui {

RecordsWatch::RecordsWatch(AppSession& session, QWidget* window, std::function<bool()> refresh)
    : QObject(window), session_(session), refresh_(std::move(refresh)), timer_(new QTimer(this)) {
  seen_ = counter();
  window->installEventFilter(this);
  timer_->setInterval(kPollMs);
  connect(timer_, &QTimer::timeout, this, &RecordsWatch::look);
  timer_->start();
}

std::optional<long long> RecordsWatch::counter() {
  std::optional<Records> records = Records::of(session_);
  return records ? records->change_count() : std::nullopt;
}

void RecordsWatch::look() {
  const std::optional<long long> now = counter();
  if (now != seen_) pending_ = true;
  seen_ = now;
  if (pending_ && refresh_()) pending_ = false;
}

bool RecordsWatch::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::WindowActivate) look();
  return QObject::eventFilter(watched, event);
}

}  // namespace cw::ui
