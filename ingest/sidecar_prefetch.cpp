// The thread that prepares first-copy sidecars ahead of the copying.
#include "ingest/sidecar_prefetch.h"

#include <new>
#include <system_error>

#include "foundation/locks.h"
#include "ingest/engine_context.h"
#include "ingest/sidecar_placement.h"
#include "metadata/sidecar.h"

namespace cw {

std::string sidecar_date_text(std::time_t when) {
  struct tm local;
  char text[32];
  if (!localtime_r(&when, &local) || std::strftime(text, sizeof text, "%Y%m%d_%H%M%S", &local) == 0)
    return "00000000_000000";
  return text;
}

SidecarPrefetch::SidecarPrefetch(EngineContext& ctx)
    : template_path_(ctx.sidecar_template),
      settings_path_(ctx.raw_settings_path),
      env_(ctx.macro_environment()) {
  inputs_.reserve(ctx.images.size());
  for (const ImageRecord& r : ctx.images)
    inputs_.push_back({r.source_path, r.base_name, sidecar_date_text(r.modified), r.number_text});
  ready_.resize(inputs_.size());
  try {
    thread_ = std::thread(&SidecarPrefetch::work, this);
  } catch (const std::system_error&) {
    // No thread to spare: every sidecar is prepared by the copying, as take() then says.
    ready_.clear();
  }
}

SidecarPrefetch::~SidecarPrefetch() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  moved_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::optional<PreparedSidecar> SidecarPrefetch::take(std::size_t index) {
  std::optional<PreparedSidecar> out;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index >= ready_.size()) return std::nullopt;
    out.swap(ready_[index]);
    for (std::size_t i = asked_; i < index; ++i) ready_[i].reset();
    asked_ = index + 1;
  }
  moved_.notify_all();
  return out;
}

void SidecarPrefetch::work() {
  const bool building = !template_path_.empty() || !settings_path_.empty();
  for (std::size_t i = 0; i < inputs_.size(); ++i) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      moved_.wait(lock, [&] { return quit_ || i < asked_ + kAhead; });
      if (quit_) return;
      if (i < asked_) continue;  // the copying is past it already
    }
    const Input& in = inputs_[i];
    PreparedSidecar p;
    try {
      p.source = in.source;
      p.source_sidecar = existing_source_sidecar(in.source);
      if (building && !p.source_sidecar) {
        std::lock_guard<std::recursive_mutex> lock(databaseLock);
        p.built = true;
        p.ok = sidecar_text(template_path_, settings_path_, in.base_name, in.date_text,
                            in.number_text, in.source, env_, p.text, p.message, p.wanted);
      }
    } catch (const std::bad_alloc&) {
      continue;  // left to the copying, which reports the shortage
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (i >= asked_) ready_[i] = std::move(p);
  }
}

}  // namespace cw
