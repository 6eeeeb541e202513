// The windowless disc writer: recorder list, media check, the writing thread and completion.
#include "disc/disc_writer.h"

#include <chrono>

#include "disc/burn_progress.h"
#include "foundation/log.h"
#include "foundation/text.h"

namespace cw {

namespace {

std::string minutes_seconds(int seconds) {
  if (seconds < 0) return "0:00";
  return format_limited(32, "%d:%02d", seconds / 60, seconds % 60);
}

bool is_cd(int type) { return type == kMediaCdR || type == kMediaCdRw; }

bool is_writable_dvd(int type) { return type >= kMediaDvdPlusR && type <= kMediaDvdDashRDualLayer; }

}  // namespace

std::string media_refusal(const MediaInfo& media, bool cds_allowed) {
  if (media.state == MediaInfo::kNoMedium)
    return "No writable media in burner. Insert disc and press Burn.";
  if (media.state == MediaInfo::kError) return media.error;
  if (is_cd(media.type) && !cds_allowed)
    return "Writable DVD (not CD) is required. Insert disc and press Burn.";
  // An image file is the one random-access medium written: it is made new for each disc.
  if (!is_cd(media.type) && !is_writable_dvd(media.type) && media.type != kMediaRandomAccess) {
    return cds_allowed ? "Writable CD or DVD is required. Insert disc and press Burn."
                       : "Writable DVD is required. Insert disc and press Burn.";
  }
  // Writing over a disc that holds data would lose it; it is never blanked here.
  if (!media.blank)
    return "The disc in the burner is not blank. Insert a blank disc and press Burn.";
  return std::string();
}

std::string write_action_text(WriteAction action) {
  switch (action) {
    case WriteAction::kValidating:
      return "Validating current media...";
    case WriteAction::kFormatting:
      return "Formatting media...";
    case WriteAction::kInitializing:
      return "Initializing hardware...";
    case WriteAction::kCalibrating:
      return "Optimizing laser intensity...";
    case WriteAction::kWriting:
      return "Writing...";
    case WriteAction::kFinalizing:
      return "Finalizing writing...";
    case WriteAction::kCompleted:
      return "Completed!";
  }
  return std::string();
}

DiscWriter::DiscWriter(DiscSet set, DiscSystem& system, WriterCallbacks callbacks)
    : set_(std::move(set)), system_(system), callbacks_(std::move(callbacks)) {
  cd_allowed_ = cd_allowed(set_);
  view_.disc_label = set_.discs.empty() ? std::string() : disc_label(set_, 0);
}

DiscWriter::~DiscWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cancel_ = true;
  }
  if (thread_.joinable()) thread_.join();
}

void DiscWriter::update(const std::function<void(WriterView&)>& change) {
  WriterView copy;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    change(view_);
    copy = view_;
  }
  if (callbacks_.changed) callbacks_.changed(copy);
}

bool DiscWriter::cancel_requested() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cancel_;
}

WriterView DiscWriter::view() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return view_;
}

bool DiscWriter::all_written() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return view_.next_disc >= set_.discs.size();
}

bool DiscWriter::open() {
  std::string message;
  if (!system_.recorders(recorders_, message) || recorders_.empty()) {
    if (message.empty()) message = "There were no writable devices detected!";
    alert_printf("%s", message.c_str());
    return false;
  }
  selected_ = 0;
  for (const SkippedEntry& entry : set_.skipped) ui_printf("%s\n", skipped_text(entry).c_str());
  const std::string summary = plan_summary(set_);
  update([&](WriterView& v) {
    v.status = summary;
    v.burn_enabled = !set_.discs.empty();
  });
  return true;
}

bool DiscWriter::select_recorder(std::size_t index) {
  if (index >= recorders_.size() || view().writing) return false;
  selected_ = index;
  return true;
}

std::vector<std::string> DiscWriter::supported_disc_types() {
  std::vector<std::string> names;
  if (selected_ >= recorders_.size() || view().writing) return names;
  OpenFailure failure;
  std::unique_ptr<Recorder> recorder = system_.open(recorders_[selected_].id, failure);
  if (!recorder) {
    log_printf("%s", open_failure_text(failure).c_str());
    return names;
  }
  for (int type : recorder->supported_media()) names.push_back(media_type_name(type));
  return names;
}

void DiscWriter::burn() {
  std::size_t index;
  std::string label;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (view_.writing) {
      cancel_ = true;  // the next progress event cancels the write
      return;
    }
    if (!view_.burn_enabled || view_.next_disc >= set_.discs.size()) return;
    cancel_ = false;
    view_.writing = true;
    view_.retry_prompt.clear();
    index = view_.next_disc;
    label = disc_label(set_, index);
    view_.disc_label = label;
  }
  if (thread_.joinable()) thread_.join();  // an earlier write that was never completed
  std::string recorder_id = selected_ < recorders_.size() ? recorders_[selected_].id : "";
  thread_ = std::thread(&DiscWriter::write_disc, this, index, label, recorder_id);
}

void DiscWriter::write_disc(std::size_t index, std::string label, std::string recorder_id) {
  WriteResult result = write_one(index, label, recorder_id);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    result_ = std::move(result);
  }
  if (callbacks_.write_ended) callbacks_.write_ended();
}

DiscWriter::WriteResult DiscWriter::write_one(std::size_t index, const std::string& label,
                                              const std::string& recorder_id) {
  WriteResult r;
  auto failed = [&r](std::string message) {
    r.error.message = std::move(message);
    return r;
  };
  if (recorder_id.empty()) return failed("Error: No Device Selected");
  if (cancel_requested()) return failed(user_canceled_text());

  update([](WriterView& v) { v.status = "Initializing burner..."; });
  OpenFailure failure;
  std::unique_ptr<Recorder> recorder = system_.open(recorder_id, failure);
  if (!recorder) return failed(open_failure_text(failure));

  update([](WriterView& v) { v.status = write_action_text(WriteAction::kValidating); });
  std::string refusal = media_refusal(recorder->media(), cd_allowed_);
  if (!refusal.empty()) {
    recorder->eject();
    return failed(refusal);
  }

  std::string message;
  DiscImage image;
  if (!lay_out_disc(set_, index, image, message)) return failed(message);
  image.volume_id = label;
  r.skipped = image.skipped;
  if (image.image_size > set_.capacity)
    return failed(format_limited(
        1000, "Disc %s no longer fits on its disc: its files have grown since it was planned.",
        label.c_str()));
  // The manifest and provenance the disc carries at its root; files the ledger did not give
  // a hash for are read for theirs here.
  if (!add_disc_proof(set_, image, message)) return failed(message);

  WriteEvents events;
  events.status = [this](const std::string& text) {
    update([&](WriterView& v) { v.status = text; });
  };
  events.cancelled = [this] { return cancel_requested(); };
  // The meter measures the rate from the byte counts at the times they arrive.
  WriteMeter meter;
  const auto start = std::chrono::steady_clock::now();
  events.progress = [this, &meter, start](const WriteProgress& reported) {
    WriteProgress p = reported;
    if (p.bytes_total > 0) {
      meter.feed(p.bytes_done, p.bytes_total,
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      if (p.progress_percent < 0) p.progress_percent = meter.percent();
      if (meter.eta_seconds() >= 0) p.remaining_seconds = meter.eta_seconds();
    }
    update([&](WriterView& v) {
      v.progress_percent = p.progress_percent;
      if (p.bytes_total > 0) {
        v.rate_text = meter.rate_text();
        v.progress_line = meter.line();
      }
      if (p.action != WriteAction::kWriting) {
        v.status = write_action_text(p.action);
        return;
      }
      v.elapsed_text = minutes_seconds(p.elapsed_seconds);
      v.remaining_text = minutes_seconds(p.remaining_seconds);
      v.buffer_text = p.buffer_percent > 0 ? format_limited(32, "Buffer: %d%%", p.buffer_percent)
                                           : "Buffer Empty";
      v.progress_text = p.progress_percent >= 0
                            ? format_limited(32, "Progress: %d%%", p.progress_percent)
                            : "Writing...";
      v.status = v.progress_text;
    });
    return cancel_requested();
  };
  r.ok = recorder->write(image, events, r.error);
  recorder->eject();
  return r;
}

bool DiscWriter::complete() {
  if (thread_.joinable()) thread_.join();
  WriteResult result;
  std::size_t index;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!view_.writing) return false;
    result = std::move(result_);
    result_ = WriteResult{};
    index = view_.next_disc;
  }
  const std::string label = disc_label(set_, index);

  std::string text;
  if (!result.ok) {
    if (result.error.message.empty())
      text = format_limited(1000, "Burn failed! Error: 0x%08x", result.error.code);
    else if (result.error.code != 0)
      text = format_limited(1000, "%s - Error:0x%08X", result.error.message.c_str(),
                            result.error.code);
    else
      text = result.error.message;
  } else {
    text = result.error.message.empty() ? "Burn completed successfully!" : result.error.message;
  }
  update([&](WriterView& v) {
    v.writing = false;
    v.status = text;
    v.elapsed_text.clear();
    v.remaining_text.clear();
    v.buffer_text.clear();
    v.progress_text.clear();
    v.rate_text.clear();
    v.progress_line.clear();
    v.progress_percent = -1;
    if (!result.ok) {
      v.retry_prompt = format_limited(1000,
                                      "Press Burn again to retry burning disc %s (after "
                                      "inserting a fresh disc if needed). Or press Close to stop "
                                      "burning.",
                                      label.c_str());
      return;
    }
    ++v.discs_burned;
    if (index + 1 < set_.discs.size()) {
      v.status = format_limited(
          1000, "Burned disc %s successfully. Insert next disc and press Burn.", label.c_str());
      v.next_disc = index + 1;
      v.disc_label = disc_label(set_, v.next_disc);
    } else {
      v.status = format_limited(1000, "Burned disc %s successfully. Panel can now be closed.",
                                label.c_str());
      v.next_disc = set_.discs.size();
      v.burn_enabled = false;
    }
  });
  // After the view has left writing, so that a console has ended its progress line first.
  for (const SkippedEntry& entry : result.skipped) {
    const std::string line = skipped_text(entry);
    log_printf("%s", line.c_str());
    ui_printf("%s\n", line.c_str());
  }
  log_printf("%s", text.c_str());
  if (result.ok) ui_printf("Burned disc %s successfully.\n", label.c_str());
  return result.ok;
}

bool DiscWriter::wait() {
  if (thread_.joinable()) thread_.join();
  return complete();
}

int DiscWriter::close() {
  if (view().writing) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      cancel_ = true;
    }
    wait();
  }
  int burned = view().discs_burned;
  if (burned > 0) ui_printf("Successful burn -- %d disc(s) were burned.\n\n", burned);
  update([](WriterView& v) { v.burn_enabled = false; });
  return burned;
}

}  // namespace cw
