// The sidecars of a run's first copies prepared ahead on a thread of their own while the run
// copies. What a generated sidecar says depends only on the image and the run (its EXIF
// values, its name parts, the presets and the template), not on where its copy lands, and
// expanding the template is most of the work a small image's sidecar costs; done beside the
// copying, it does not hold the copying up. The copying thread decides each sidecar (one on
// the card, one in the archive already, none wanted). A built sidecar that nothing of its
// image's later steps reads is handed back to the thread to be placed while the copying
// makes the next copy: creating a file is most of what placing a small one costs. The
// copying settles it before it places the next copy, and places it itself when the thread
// has not begun it by then (rather than waiting for the thread to be scheduled on a machine
// whose cores are busy): a sidecar that cannot be placed stops the run before another copy
// is placed, as one placed by the copying itself would.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ingest/staged_file.h"

namespace cw {

class EngineContext;
class RunMetadata;
struct ImageRecord;

// The EXIF values a new ledger entry records of its image (empty when it has none).
struct EntryExif {
  std::string camera_serial;
  std::string captured;  // the capture date-time as naming forms it
};

// What create_sidecar needs to know of a first copy's sidecar before its copy is placed, and
// the EXIF values of the image's ledger entry: read while the thread holds the metadata lock
// anyway, so that the copying does not wait for that lock to record the copy.
struct PreparedSidecar {
  std::string source;                         // the image it was prepared for
  std::optional<std::string> source_sidecar;  // the sidecar the card holds for the image
  bool built = false;  // the text below was built (no sidecar on the card, something to build)
  bool ok = true;      // with `built`: false when building failed (`message` says why)
  std::string text;    // with `built`: empty when there is nothing to write
  std::string message;
  EntryExif exif;
  // With `built` and a text: the text already written under a temporary name in the folder
  // its copy goes to (`staged_folder`), when that folder was made and checked by then; the
  // sidecar is then only moved into place.
  std::unique_ptr<StagedFile> staged;
  std::string staged_folder;
};

enum class SidecarOutcome { kFailed, kCreated, kExisted };

// The sidecars a card holds, found as existing_source_sidecar finds them but from one listing
// of each folder instead of a look for two names per image: a card's images come folder by
// folder, and most folders hold no sidecar at all. Only a name the listing holds is looked at
// on its own (it must still be a file). A folder that cannot be listed is asked name by name.
// For one thread.
class CardSidecars {
 public:
  std::optional<std::string> find(const std::string& source);

 private:
  // Whether the listing of `path`'s folder holds its name (listing the folder when it is not
  // the one listed last); true when the folder cannot be listed.
  bool listed(const std::string& path);

  std::string folder_;  // the folder listed last, with its "/"
  bool listed_ = false;
  std::vector<std::string> names_;  // its entries that end in ".xmp" or ".XMP", sorted
};

// How placing a built sidecar went.
struct SidecarPlacement {
  std::string target;
  SidecarOutcome outcome = SidecarOutcome::kFailed;
  std::string failure;  // with kFailed: the message, said of `target`
};

class SidecarWorker {
 public:
  // Starts preparing the sidecars of `ctx.images` in their order; the run's metadata state is
  // used holding its lock, as every other user does. The thread reads what it needs of each
  // image from the list itself (the fields the scan and naming set, which the copying no
  // longer changes), so nothing is copied per image ahead of the copying; the list must
  // neither grow nor shrink while the worker lives.
  explicit SidecarWorker(EngineContext& ctx);
  // Stops the thread (what it prepared and was not taken is dropped).
  ~SidecarWorker();
  SidecarWorker(const SidecarWorker&) = delete;
  SidecarWorker& operator=(const SidecarWorker&) = delete;

  // The prepared sidecar of image `index`, when it is ready; nothing otherwise (the caller
  // prepares it itself). When the thread is preparing that very image now, this waits for it
  // rather than do the same work again beside it, holding the metadata lock the thread holds
  // meanwhile: never call it holding that lock. Images before `index` are not asked for any
  // more. The thread prepares further only once woken by
  // hand_over or go_on: a sidecar handed over right after is placed before the next is
  // prepared.
  std::optional<PreparedSidecar> take(std::size_t index);
  // Wakes the thread to prepare past the image taken last.
  void go_on() { moved_.notify_all(); }
  // The copying made and checked `folder`, where the copies of images whose target folder
  // reads `target_folder` go: the thread writes their sidecars there ahead.
  void folder_checked(const std::string& folder, const std::string& target_folder);

  // Hands the built sidecar `text` over, to be placed at `target` in `folder` (as
  // place_sidecar_text does, with `staged` when it was written ahead) on the thread: false,
  // with nothing taken, when there is no thread or the sidecar handed over before is not
  // settled. Never waits.
  bool hand_over(const std::string& folder, const std::string& target, std::string& text,
                 std::unique_ptr<StagedFile>& staged);
  // How placing the sidecar handed over last went, once it is placed (and logged, as
  // log_placement does); nothing when none waits. One the thread has not begun is placed here,
  // through `folders` (the caller's); one it is placing is waited for.
  std::optional<SidecarPlacement> settle(FolderHandles& folders);

  // How far the thread may run ahead of the copying: once image i was taken, it reads images
  // up to i + kAhead. Enough for the thread to get ahead again after it was kept off the
  // processors a while (it runs as a batch thread), while bounding the texts held at once.
  // Running ahead holds nothing up: the copying takes the run's metadata lock only for an
  // image the thread has not prepared.
  static constexpr std::size_t kAhead = 16;

 private:
  void work();
  PreparedSidecar prepare(const ImageRecord& r);
  // Writes the built text of `p` under a temporary name in `folder`; when that fails, `p`
  // says so as a sidecar that could not be built.
  static void stage(PreparedSidecar& p, const std::string& folder);

  // Places the sidecar handed over, holding `lock` (released meanwhile).
  void place(std::unique_lock<std::mutex>& lock);

  // A prepared sidecar waiting to be taken, with the image it belongs to.
  struct Ready {
    std::size_t index = 0;
    std::optional<PreparedSidecar> sidecar;
  };

  // The sidecar handed over to be placed, from hand_over to settle.
  struct Handed {
    enum class State { kNone, kWaiting, kPlacing, kPlaced };
    State state = State::kNone;
    std::string folder, target, text;
    std::unique_ptr<StagedFile> staged;
    SidecarPlacement outcome;  // with kPlaced
  };

  const std::string template_path_, settings_path_;
  RunMetadata& metadata_;
  const std::vector<ImageRecord>& images_;
  std::mutex& placement_;       // the batch's placement lock
  CardSidecars card_sidecars_;  // used by the thread alone
  FolderHandles folders_;       // used by the thread alone
  std::mutex mutex_;
  // The copying took a sidecar, or the thread is to stop.
  std::condition_variable moved_;
  // Image i's sidecar waits in slot i % kAhead: the thread prepares only images in
  // [asked_, asked_ + kAhead), which never share a slot.
  std::array<Ready, kAhead> ready_;
  std::size_t asked_ = 0;  // images before this one are not asked for any more
  // The image the thread is preparing now (kNone: none), and the copying waiting in take()
  // for it to be ready.
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t preparing_ = kNone;
  std::condition_variable ready_cv_;
  bool taking_ = false;
  // The folder the copying checked last, and the target folder text of the images going there.
  std::string checked_folder_, checked_target_folder_;
  Handed handed_;
  // The thread placed the sidecar handed over, and the copying waits for it in settle().
  std::condition_variable placed_;
  bool settling_ = false;
  bool quit_ = false;
  std::thread thread_;
};

// The date text a first copy's sidecar is given: the source's modification time as
// "%Y%m%d_%H%M%S" in local time ("00000000_000000" when it cannot be formed).
std::string sidecar_date_text(std::time_t when);

}  // namespace cw
