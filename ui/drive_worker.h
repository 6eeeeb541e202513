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
#include "platform/drive_watcher.h"

namespace cw::ui {

using SnapshotPtr = std::shared_ptr<DriveSnapshot>;
// Ejects the card mounted at a root; true when the request was handled.
using EjectFunction = std::function<bool(const std::string& root)>;

// The program's eject: EjectCard without its diagnostic lines on standard output.
bool eject_card(const std::string& root);

class DriveWorker : public QObject {
  Q_OBJECT

 public:
  // `source` is used on the worker thread only.
  DriveWorker(std::unique_ptr<DriveSource> source, EjectFunction eject, QObject* parent = nullptr);
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
  void post_snapshot(std::vector<MediaNotification> changes);

  std::unique_ptr<DriveSource> source_;
  EjectFunction eject_;
  std::thread thread_;
  std::atomic<bool> quit_{false};
  std::mutex mutex_;  // guards the requests below
  bool read_requested_ = false;
  std::vector<std::vector<std::string>> eject_requests_;
};

}  // namespace cw::ui
