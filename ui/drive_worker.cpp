// The drive worker's loop.
#include "ui/drive_worker.h"

#include <chrono>

#include "control/app_session.h"

namespace cw::ui {

namespace {
// How long one wait for a change lasts: requests and the end are noticed this quickly.
constexpr std::chrono::milliseconds kWaitSlice{200};
}  // namespace

DriveWorker::DriveWorker(AppSession& session, QObject* parent)
    : QObject(parent), session_(session), source_(session.open_drives()) {}

DriveWorker::~DriveWorker() {
  quit_ = true;
  if (thread_.joinable()) thread_.join();
}

void DriveWorker::start() {
  if (!thread_.joinable()) thread_ = std::thread(&DriveWorker::run, this);
}

void DriveWorker::read_now() {
  std::lock_guard<std::mutex> hold(mutex_);
  read_requested_ = true;
}

void DriveWorker::eject(const std::vector<std::string>& roots) {
  std::lock_guard<std::mutex> hold(mutex_);
  eject_requests_.push_back(roots);
}

void DriveWorker::post_snapshot(DriveWatch& watch, std::vector<MediaNotification> changes) {
  auto snapshot = std::make_shared<DriveSnapshot>(watch.snapshot());
  QMetaObject::invokeMethod(
      this,
      [this, snapshot, changes = std::move(changes)] { Q_EMIT drives_read(snapshot, changes); },
      Qt::QueuedConnection);
}

void DriveWorker::run() {
  DriveWatch watch(std::move(source_));
  post_snapshot(watch, {});
  while (!quit_) {
    const bool changed = watch.wait(kWaitSlice);
    bool read = false;
    std::vector<std::vector<std::string>> ejects;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      read = std::exchange(read_requested_, false);
      ejects.swap(eject_requests_);
    }
    for (const auto& roots : ejects) {
      bool handled = true;
      for (const std::string& root : roots) handled = session_.eject(root, nullptr) && handled;
      QMetaObject::invokeMethod(
          this, [this, handled] { Q_EMIT ejected(handled); }, Qt::QueuedConnection);
    }
    if (quit_) break;
    std::vector<MediaNotification> changes;
    if (changed || !ejects.empty()) changes = watch.take_changes();
    if (read || !ejects.empty() || !changes.empty()) post_snapshot(watch, std::move(changes));
  }
}

}  // namespace cw::ui
