// The disc writer without a window: the flow a burner window or the command line drives to
// write a planned set one disc after the other.
//
// open() lists the recorders and sets the status line to what the set needs; burn() writes the
// next disc on a thread of its own (or, while a write runs, asks it to cancel); complete() is
// the end of a write on the front end's thread: a failure keeps the disc so that the next
// burn() retries it, a success moves on to the next disc. Each write binds the recorder, checks
// the medium (a refused medium is ejected and nothing is written), lays out and builds the
// image and writes it with progress. What the front end shows is the WriterView; the `changed`
// callback hands out a fresh copy whenever it changes, also from the writing thread.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "disc/burner.h"
#include "disc/disc_image.h"
#include "disc/recorder.h"

namespace cw {

struct WriterView {
  std::string status;          // the status line
  std::string elapsed_text;    // while writing: "%d:%02d" ("0:00" when unknown)
  std::string remaining_text;  // while writing: "%d:%02d"
  std::string buffer_text;     // while writing: "Buffer: %d%%" or "Buffer Empty"
  std::string progress_text;   // while writing: "Progress: %d%%" or "Writing..."
  std::string rate_text;       // while writing, once measured: "12.3 MB/s"
  // While writing data: the figures on one line, for a console ("45%  12.3 MB/s  ETA 1:23").
  std::string progress_line;
  int progress_percent = -1;
  bool writing = false;
  bool burn_enabled = false;  // false before open() and once every disc is written
  std::size_t next_disc = 0;  // the disc burn() writes, from 0
  std::string disc_label;     // its label
  int discs_burned = 0;
  // After a failed write: the question whether to retry the same disc.
  std::string retry_prompt;
};

struct WriterCallbacks {
  // The view after each change; may be called from the writing thread.
  std::function<void(const WriterView&)> changed;
  // Called on the writing thread when a write has ended: the front end then calls complete()
  // on its own thread.
  std::function<void()> write_ended;
};

// Empty when a medium may be written for a set (CDs only for a set that fits on one), else the
// text that refuses it.
std::string media_refusal(const MediaInfo& media, bool cds_allowed);
// Status text of a write stage other than writing data ("Finalizing writing...").
std::string write_action_text(WriteAction action);

class DiscWriter {
 public:
  DiscWriter(DiscSet set, DiscSystem& system, WriterCallbacks callbacks = {});
  ~DiscWriter();  // cancels a running write and waits for it
  DiscWriter(const DiscWriter&) = delete;
  DiscWriter& operator=(const DiscWriter&) = delete;

  // Lists the recorders (the first is selected) and names what the plan left off the discs.
  // False, after an alert, when there are no recorders.
  bool open();
  const std::vector<RecorderInfo>& recorders() const { return recorders_; }
  // Selects a recorder by its place in recorders(); false when there is none there or a write
  // is running.
  bool select_recorder(std::size_t index);
  // Names of the disc types the selected recorder supports (it is bound briefly to ask).
  std::vector<std::string> supported_disc_types();

  // The Burn button: starts writing the next disc, or asks a running write to cancel.
  void burn();
  // The end of a write, on the front end's thread (after write_ended): true when the disc was
  // written. Waits for the writing thread if it has not quite finished.
  bool complete();
  // Waits for a running write and completes it; true when the disc was written.
  bool wait();
  // Ends the set. Discs not yet written are not written. Returns the number burned.
  int close();

  WriterView view() const;
  bool all_written() const;
  const DiscSet& set() const { return set_; }

 private:
  struct WriteResult {
    bool ok = false;
    WriteError error;
    std::vector<SkippedEntry> skipped;  // sources that were no longer files
  };
  void write_disc(std::size_t index, std::string label, std::string recorder_id);
  WriteResult write_one(std::size_t index, const std::string& label,
                        const std::string& recorder_id);
  void update(const std::function<void(WriterView&)>& change);
  bool cancel_requested() const;

  DiscSet set_;
  DiscSystem& system_;
  WriterCallbacks callbacks_;
  std::vector<RecorderInfo> recorders_;
  std::size_t selected_ = 0;
  bool cd_allowed_ = false;

  mutable std::mutex mutex_;  // guards view_, cancel_ and result_
  WriterView view_;
  bool cancel_ = false;
  WriteResult result_;
  std::thread thread_;
};

}  // namespace cw
