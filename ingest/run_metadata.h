// The metadata state of one run: the macro environment its names, folders, sidecars and ledger
// entries are expanded with (the session's presets and database values, with the run's
// remembered EXIF and database values), the sidecar cache (the develop-settings block and the
// template as last made), and the lock the run's threads hold while they use either: the
// copying and the run's sidecar thread share them.
//
// Each run makes its own, so two runs in one process share no cache and never wait for each
// other here.
#pragma once

#include <mutex>

#include "ingest/run_macro_environment.h"
#include "metadata/macro_environment.h"
#include "metadata/sidecar.h"

namespace cw {

class CaptureShifts;

class RunMetadata {
 public:
  // `session` (not owned, may be null: then only the images' own values are found, camera
  // images on `cameras`), `shifts` and `cameras` (not owned, may be null) must outlive the run.
  RunMetadata(MacroEnvironment* session, const CaptureShifts* shifts, CameraSource* cameras)
      : env_(session ? *session : images_only_, shifts) {
    images_only_.cameras = cameras;
  }
  RunMetadata(const RunMetadata&) = delete;
  RunMetadata& operator=(const RunMetadata&) = delete;

  RunMacroEnvironment& environment() { return env_; }
  SidecarCache& sidecars() { return sidecars_; }

  // Held around every use of the environment or the sidecar cache. Recursive: a step that
  // holds it calls helpers that take it for their own part.
  [[nodiscard]] std::unique_lock<std::recursive_mutex> hold() {
    return std::unique_lock<std::recursive_mutex>(mutex_);
  }

 private:
  MacroEnvironment images_only_;  // the base when the run was given no environment
  RunMacroEnvironment env_;
  SidecarCache sidecars_;
  std::recursive_mutex mutex_;
};

}  // namespace cw
