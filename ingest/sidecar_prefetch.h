// The sidecars of a run's first copies prepared ahead on a thread of their own while the run
// copies. What a generated sidecar says depends only on the image and the run (its EXIF
// values, its name parts, the presets and the template), not on where its copy lands, and
// expanding the template is most of the work a small image's sidecar costs: done beside the
// copying, it no longer holds the copying up. The copying thread still writes and places each
// sidecar itself, in order, exactly as it would without this.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace cw {

class EngineContext;
class MacroEnvironment;

// What create_sidecar needs to know of a first copy's sidecar before its copy is placed.
struct PreparedSidecar {
  std::string source;                         // the image it was prepared for
  std::optional<std::string> source_sidecar;  // the sidecar the card holds for the image
  bool built = false;  // the text below was built (no sidecar on the card, something to build)
  bool ok = true;      // with `built`: false when building failed (`message` says why)
  bool wanted = false;
  std::string text, message;
};

class SidecarPrefetch {
 public:
  // Starts preparing the sidecars of `ctx.images` in their order; the run's macro environment
  // is used holding databaseLock, as every other user does.
  explicit SidecarPrefetch(EngineContext& ctx);
  // Stops the thread (what it prepared is dropped).
  ~SidecarPrefetch();
  SidecarPrefetch(const SidecarPrefetch&) = delete;
  SidecarPrefetch& operator=(const SidecarPrefetch&) = delete;

  // The prepared sidecar of image `index`, when it is ready; nothing otherwise (the caller
  // prepares it itself: this never waits, so it may be called holding any lock). Images
  // before `index` are not asked for any more.
  std::optional<PreparedSidecar> take(std::size_t index);

 private:
  struct Input {
    std::string source, base_name, date_text, number_text;
  };

  void work();

  // How far the thread may run ahead of the copying: a bound on the texts held at once.
  static constexpr std::size_t kAhead = 4;

  const std::string template_path_, settings_path_;
  MacroEnvironment& env_;
  std::vector<Input> inputs_;
  std::mutex mutex_;
  std::condition_variable moved_;  // the copying took a sidecar, or the prefetch is to stop
  std::vector<std::optional<PreparedSidecar>> ready_;
  std::size_t asked_ = 0;  // images before this one are not asked for any more
  bool quit_ = false;
  std::thread thread_;
};

// The date text a first copy's sidecar is given: the source's modification time as
// "%Y%m%d_%H%M%S" in local time ("00000000_000000" when it cannot be formed).
std::string sidecar_date_text(std::time_t when);

}  // namespace cw
