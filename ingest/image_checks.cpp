// Verification of a run's copies on its worker pool, reported in list order.
#include "ingest/image_checks.h"

#include <chrono>

#include "foundation/text.h"
#include "ingest/engine_context.h"

namespace cw {

namespace {

// How often a run waiting for a check looks at its stop request.
constexpr auto kStopPoll = std::chrono::milliseconds(200);

// The damage is the file's own (its copy was read back with the card's hash, or is read
// back with it before the run ends): the ledger keeps it for every later run of the card.
void note_damage(EngineContext& ctx, int index, Damage damage, const std::string& text) {
  if (index >= 0 && static_cast<std::size_t>(index) < ctx.images.size())
    remember_damage(ctx, ctx.images[static_cast<std::size_t>(index)], damage, text);
}

}  // namespace

// One queued check: what it is about, and its result once `done` (guarded by the mutex).
struct ImageChecks::Check {
  bool raw = false;
  std::string path, base_name, extension;
  int index = 0;
  bool done = false;
  JpegCheck jpeg;
  RawCheck raw_check;
};

ImageChecks::ImageChecks() = default;

ImageChecks::~ImageChecks() { cancel(); }

void ImageChecks::add_jpeg(const ImageRecord& record) { add(record, false); }

void ImageChecks::add_raw(const ImageRecord& record) { add(record, true); }

void ImageChecks::add(const ImageRecord& record, bool raw) {
  auto check = std::make_unique<Check>();
  check->raw = raw;
  check->path = record.first_copy_path();
  check->base_name = record.base_name;
  check->extension = record.extension();
  check->index = record.index;
  Check* c = check.get();
  checks_.push_back(std::move(check));
  if (!pool_) pool_ = std::make_unique<WorkerPool>();
  // The worker decodes into locals and publishes under the mutex: the run thread reads a
  // check only once it is done.
  pool_->submit([this, c] {
    JpegCheck jpeg;
    RawCheck raw_check;
    if (c->raw)
      raw_check = check_raw(c->path);
    else
      jpeg = check_jpeg(c->path);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      c->jpeg = std::move(jpeg);
      c->raw_check = std::move(raw_check);
      c->done = true;
    }
    finished_.notify_all();
  });
}

bool ImageChecks::report(EngineContext& ctx) {
  for (const std::unique_ptr<Check>& c : checks_) {
    ctx.status_printf("Verifying %s: %s.%s (image %d)", c->raw ? "raw" : "JPEG",
                      c->base_name.c_str(), c->extension.c_str(), c->index + 1);
    std::unique_lock<std::mutex> lock(mutex_);
    while (!finished_.wait_for(lock, kStopPoll, [&c] { return c->done; })) {
      lock.unlock();
      if (ctx.stop_requested()) {
        cancel();
        return ctx.fail("Stopped");
      }
      lock.lock();
    }
    lock.unlock();
    report_one(ctx, *c);
  }
  cancel();
  return true;
}

void ImageChecks::report_one(EngineContext& ctx, const Check& c) {
  const char* path = c.path.c_str();
  RunCounters& n = ctx.counts;
  if (c.raw) {
    if (c.raw_check.verdict == RawVerdict::kSound) {
      ++n.raws_decoded;
    } else if (c.raw_check.verdict == RawVerdict::kCorrupt) {
      ++n.raws_corrupt;
      note_damage(ctx, c.index, Damage::kCorruptRaw, c.raw_check.message);
      ctx.report_printf("Corrupt raw: \"%s\": %s\n", path, c.raw_check.message.c_str());
      ctx.note_first_error(text_with_path("Corrupt raw", c.path));
    } else if (c.raw_check.no_decoder && !no_decoder_said_) {
      no_decoder_said_ = true;
      ctx.report_printf("WARNING: raws are not decoded to verify them: %s\n",
                        c.raw_check.message.c_str());
    }
    return;
  }
  show_jpeg_check(c.path, c.jpeg);
  switch (c.jpeg.verdict) {
    case JpegVerdict::kSound:
      ++n.jpegs_verified;
      break;
    case JpegVerdict::kDamaged:
      ++n.damaged_jpegs;
      note_damage(ctx, c.index, Damage::kDamagedJpeg, c.jpeg.damage);
      ctx.report_printf("Damaged JPEG data: \"%s\": %s\n", path, c.jpeg.damage.c_str());
      ctx.note_first_error(text_with_path("Damaged JPEG data", c.path));
      break;
    case JpegVerdict::kCorrupt:
    case JpegVerdict::kUnreadable:
      ++n.jpegs_corrupt;
      note_damage(ctx, c.index, Damage::kCorruptJpeg, "");
      ctx.report_printf("Corrupt JPEG: \"%s\"\n", path);
      ctx.note_first_error(text_with_path("Corrupt JPEG", c.path));
      break;
  }
}

void ImageChecks::cancel() {
  pool_.reset();
  checks_.clear();
}

}  // namespace cw
