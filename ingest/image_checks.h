// The verification of one run's copies: each copied JPEG is decoded, and without a converter
// each raw file is unpacked, on a worker pool while the run goes on copying. The checks are
// queued in list order and their results reported in that order once the copies are done, so
// the report reads the same whatever order the workers finished in.
//
// What each result adds: a sound JPEG 1 to the JPEGs verified; a damaged one 1 to the damaged
// JPEGs and the line "Damaged JPEG data: \"%s\": %s\n" (path, the decoder's warning) to the
// report; a corrupt or unreadable one 1 to the JPEGs corrupt and "Corrupt JPEG: \"%s\"\n". A
// sound raw adds 1 to the raws the decoder verified, a corrupt one 1 to the raws corrupt and
// "Corrupt raw: \"%s\": %s\n"; a raw of a format the decoder does not read adds nothing. When
// the raw decoder cannot be loaded, the first raw says so in the report (the raws then count
// as not checked by decoding). The decoder's messages go to the text pane as the JPEG verifier
// words them.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ingest/image_record.h"
#include "ingest/jpeg_verify.h"
#include "ingest/raw_verify.h"
#include "ingest/worker_pool.h"

namespace cw {

class EngineContext;

class ImageChecks {
 public:
  ImageChecks();
  // Checks not started yet are dropped; running ones are waited for.
  ~ImageChecks();
  ImageChecks(const ImageChecks&) = delete;
  ImageChecks& operator=(const ImageChecks&) = delete;

  // Queue the check of a record's first copy (the pool starts with the first check).
  void add_jpeg(const ImageRecord& record);
  void add_raw(const ImageRecord& record);

  // Waits for every queued check in order and reports it, showing "Verifying JPEG: %s.%s
  // (image %d)" (or "Verifying raw: …") while it waits; then the pool stops. False after a
  // stop request (`fail` "Stopped" called; the remaining checks are dropped).
  bool report(EngineContext& ctx);
  // Drops what is queued, waits for what runs, and stops the pool: the run ends early.
  void cancel();

 private:
  struct Check;
  void add(const ImageRecord& record, bool raw);
  void report_one(EngineContext& ctx, const Check& check);

  std::mutex mutex_;
  std::condition_variable finished_;
  std::vector<std::unique_ptr<Check>> checks_;
  // Last: destroyed first, so no worker outlives the checks it writes to.
  std::unique_ptr<WorkerPool> pool_;
  bool no_decoder_said_ = false;
};

}  // namespace cw
