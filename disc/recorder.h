// The disc writer's view of the platform: a system that lists recorders and opens one, and an
// opened recorder that tells its disc types and the medium in it, writes one disc image with
// progress, and ejects. The real implementation stands on libburn and libisofs
// (disc/libburn_recorder.h); tests use a fake. Nothing else in the engine knows how discs are
// written.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "disc/disc_image.h"

namespace cw {

// Physical media types, numbered as the writer's list of supported disc types shows them.
enum MediaType : int {
  kMediaUnknown = 0,
  kMediaCdRom = 1,
  kMediaCdR = 2,
  kMediaCdRw = 3,
  kMediaDvdRom = 4,
  kMediaDvdRam = 5,
  kMediaDvdPlusR = 6,
  kMediaDvdPlusRw = 7,
  kMediaDvdPlusRDualLayer = 8,
  kMediaDvdDashR = 9,
  kMediaDvdDashRw = 10,
  kMediaDvdDashRDualLayer = 11,
  kMediaRandomAccess = 12,  // random-access writes: what an image file is
  kMediaDvdPlusRwDualLayer = 13,
  kMediaHdDvdRom = 14,
  kMediaHdDvdR = 15,
  kMediaHdDvdRam = 16,
  kMediaBdRom = 17,
  kMediaBdR = 18,
  kMediaBdRe = 19,
};

// "CD-R", "DVD+R Dual Layer" … or "Unknown Media Type".
const char* media_type_name(int type);

struct RecorderInfo {
  std::string id;       // what open() takes: a device address
  std::string display;  // "<device paths> [<product>]"
};

// The medium in a recorder.
struct MediaInfo {
  enum State { kReady, kNoMedium, kError } state = kNoMedium;
  int type = kMediaUnknown;  // when ready
  bool blank = false;        // when ready: nothing on it that writing could lose
  std::string error;         // when kError
};

// The stages of one write and its figures; -1 where the recorder cannot tell.
enum class WriteAction {
  kValidating,
  kFormatting,
  kInitializing,
  kCalibrating,
  kWriting,
  kFinalizing,
  kCompleted
};
struct WriteProgress {
  WriteAction action = WriteAction::kWriting;
  int elapsed_seconds = -1;
  int remaining_seconds = -1;
  int buffer_percent = -1;
  int progress_percent = -1;
  // Bytes of the image written so far and in all; 0 when the recorder cannot tell.
  std::uint64_t bytes_done = 0;
  std::uint64_t bytes_total = 0;
};

// What a write reports while it runs, possibly from the recorder's own threads: status texts
// ("Adding …"), and progress, whose answer true cancels the write. While the image is built,
// before any progress, `cancelled` is asked instead.
struct WriteEvents {
  std::function<void(const std::string&)> status;
  std::function<bool(const WriteProgress&)> progress;
  std::function<bool()> cancelled;
};

// A write's failure: the recorder's text and its error code. A failure may come with a code
// and no text; completion then names the code alone.
struct WriteError {
  std::string message;
  unsigned code = 0;  // the recorder's error code, 0 when it has none
};

// Why a recorder could not be taken.
struct OpenFailure {
  std::string message;  // what went wrong, unless another program holds the recorder
  // When another program holds the recorder for itself: that program if it can be named,
  // else the recorder's device path.
  std::string exclusive_owner;
};

// What the user is told of an OpenFailure: "Failed: %s is exclusive owner" or its message.
std::string open_failure_text(const OpenFailure& failure);

// The message a cancelled write ends with.
inline const char* user_canceled_text() { return "User Canceled!"; }

// One recorder, held for exclusive use while the object lives.
class Recorder {
 public:
  virtual ~Recorder() = default;
  virtual std::vector<int> supported_media() = 0;
  virtual MediaInfo media() = 0;
  // Builds the image of `image` and writes it. False with `error` on failure; a cancel ends
  // with user_canceled_text().
  virtual bool write(const DiscImage& image, const WriteEvents& events, WriteError& error) = 0;
  // Opens the tray (nothing for recorders without one).
  virtual void eject() = 0;
};

class DiscSystem {
 public:
  virtual ~DiscSystem() = default;
  // The writable recorders; false with a message when they cannot be listed.
  virtual bool recorders(std::vector<RecorderInfo>& list, std::string& message) = 0;
  // Takes a recorder for exclusive use; null, with why, when it cannot.
  virtual std::unique_ptr<Recorder> open(const std::string& id, OpenFailure& failure) = 0;
};

}  // namespace cw
