// "Cardwright Disc Burner": writes a planned set of folders onto discs, one after the other.
// The folders are planned first (off the window's thread); then the user picks the recorder
// (its supported disc types listed beneath it), inserts a blank disc and presses Burn, which
// turns into Cancel while the disc is written, with the stage, the progress, the elapsed and
// remaining time, the rate and the buffer shown. A failed disc is retried by pressing Burn
// again; Close ends the set. The window drives the windowless DiscWriter that
// `cardwright disc burn` uses.
//
// The burn command opens it on the folders the user chose ("Selected Folders"), the end of an
// ingestion on each tree its master preset wants burned.
#pragma once

#include <QDialog>
#include <memory>

#include "control/disc_burning.h"

class QComboBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace cw {
class AppSession;
}

namespace cw::ui {

class DiscBurner : public QDialog {
  Q_OBJECT

 public:
  // Plans `plan` and offers its discs on the recorders of `system` (which must outlive the
  // window); the manifests carry the hashes of the files as they are read for the disc.
  explicit DiscBurner(PlanRequest plan, DiscSystem& system, QWidget* parent = nullptr);
  // The same with the session's ingest ledger: the discs' manifests carry the hashes it holds
  // for the planned files, so that a copy changed since it was verified fails its read-back.
  DiscBurner(PlanRequest plan, DiscSystem& system, QWidget* parent, AppSession& session);
  ~DiscBurner() override;

  // The writer once the plan is made and the recorders are listed; null before.
  DiscWriter* writer() { return writer_.get(); }

 Q_SIGNALS:
  // The recorders are listed and Burn can be pressed (or the set cannot be written).
  void ready(bool ok);
  // A write has ended.
  void disc_ended(bool ok);

 protected:
  void reject() override;

 private:
  DiscBurner(OriginLookup origins, PlanRequest plan, DiscSystem& system, QWidget* parent);
  void planned(bool ok, DiscSet set, const std::string& message);
  void opened(bool ok, const std::vector<std::string>& types);
  void show_view(const WriterView& view);
  void show_types();
  void write_ended();
  bool end_set();
  void close_set();

  PlanRequest plan_;
  DiscSystem& system_;
  // Fills a planned set's origins from the ledger; empty without one.
  OriginLookup origins_;
  std::unique_ptr<DiscWriter> writer_;
  bool closed_ = false;
  bool asking_ = false;  // a worker is listing the recorders or asking for disc types
  QLabel *title_, *status_, *disc_, *elapsed_, *remaining_, *rate_, *buffer_;
  QComboBox* recorders_;
  QListWidget* types_;
  QTreeWidget* plan_view_;
  QProgressBar* progress_;
  QWidget* figures_;
  QPushButton *burn_, *close_;
};

}  // namespace cw::ui
