// The drives, watched and read on a worker thread so that a card that is slow to answer never
// freezes a window. The worker waits for the mount table to change, reads the drives into a
// snapshot and hands it to the window's thread together with what arrived and went away; it
// also ejects cards (which may take seconds while a volume is busy) and reads the drives
// again afterwards.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control/drive_snapshot.h"

namespace cw {
class AppSession;
}

namespace cw::ui {

using SnapshotPtr = std::shared_ptr<DriveSnapshot>;

class DriveWorker : public QObject {
  Q_OBJECT

 public:
  // Watches a drive source of the session's, used on the worker thread only, and ejects
  // through the session (its diagnostic lines in the log only).
  DriveWorker(AppSession& session, QObject* parent = nullptr);
  ~DriveWorker() override;

  // Starts watching; the first snapshot follows at once.
  void start();
  // Asks for a fresh snapshot.
  void read_now();
  // Ejects the cards at `roots` one after another; `ejected` follows, then a fresh snapshot.
  void eject(const std::vector<std::string>& roots);

 Q_SIGNALS:
  // On the window's thread: the drives now, and what changed since the last snapshot.
  void drives_read(const cw::ui::SnapshotPtr& drives,
                   const std::vector<cw::MediaNotification>& changes);
  // Whether every eject request was handled.
  void ejected(bool handled);

 private:
  void run();
  void post_snapshot(DriveWatch& watch, std::vector<MediaNotification> changes);

  AppSession& session_;
  std::unique_ptr<DriveSource> source_;  // until the worker thread watches it
  std::thread thread_;
  std::atomic<bool> quit_{false};
  std::mutex mutex_;  // guards the requests below
  bool read_requested_ = false;
  std::vector<std::vector<std::string>> eject_requests_;
};

}  // namespace cw::ui
