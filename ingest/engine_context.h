// EngineContext: one ingestion run of one slot, in four parts — RunOptions (the parameters it
// took), RunServices (who runs it and what it uses without owning), RunState (the image list,
// folders, ledger, buffers) and RunResult (report, error text, counters, verdict) — and the
// reporting operations that every step of the engine uses (RunReporter). A step that needs
// less than the whole run takes only the parts it uses.
//
// The context outlives the run: whoever ran it reads the report, the error text and the
// destination folder afterwards.
#pragma once

#include <sys/types.h>

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "ingest/copy_verifier.h"
#include "ingest/flush_ahead.h"
#include "ingest/folder_table.h"
#include "ingest/image_checks.h"
#include "ingest/image_record.h"
#include "ingest/read_ahead.h"
#include "ingest/run_counters.h"
#include "ingest/run_ledger.h"
#include "ingest/run_reporter.h"
#include "ingest/settled_copies.h"
#include "ingest/slot_control.h"
#include "ingest/staged_file.h"

namespace cw {

class CameraSource;
class CaptureShifts;
class Database;
class MacroEnvironment;
class RunMetadata;
class SidecarWorker;

// Whether every image the run took has a proven copy in every tree it was meant for.
struct FormatVerdict {
  bool made = false;  // the run got as far as telling
  bool safe = false;
  int images = 0;
  int trees = 0;
  std::string line;  // "Card safe to format: ..." or "Card not yet safe to format: ..."
};
struct GpsRunSettings;
class TagWriter;

// Size of the run's one copy buffer.
inline constexpr std::size_t kCopyBufferSize = 1048576;
// Longest error text kept (messages joined by " / ").
inline constexpr std::size_t kErrorTextMax = 499;

// Who runs the ingestion: the slot, its title for the report, and its control.
struct EngineJob {
  SlotControl* control = nullptr;  // not owned; must outlive the run
  int slot = 0;
  std::string title;
  std::thread::id thread_id = std::this_thread::get_id();
};

// The card as its scan found it, beside the image list: where the card really is, the regular
// files taken (device, inode) and the symbolic links to files inside the card (the link and
// the file's real path), which are taken after the scan unless their file was taken already,
// and the files it leaves on the card.
struct CardFiles {
  std::string real_root;
  std::set<std::pair<dev_t, ino_t>> taken;
  std::vector<std::pair<std::string, std::string>> links;
  // Files left on the card, by their paths below the card: by the extension filter, and by
  // the scan (a name or path the archive cannot hold, an entry or folder it cannot read).
  std::vector<std::string> left_by_filter;
  std::vector<std::string> skipped;
};

// What the run was asked to do: the request's parameters as copycard takes them at the start of
// the run. Nothing changes them afterwards; a step that only reads them takes this part.
struct RunOptions {
  // A dry run names the images and reports where they would go, creating nothing.
  bool dry_run = false;

  std::optional<std::string> converter_path;
  bool include = false;
  bool want_backup = false;
  bool want_backup_post = false;
  bool jpeg_verify = false;
  bool convert_dngs = false;
  bool xmp_to_jpg = false;
  bool extract_jpg = false;
  std::optional<std::string> post_backup_root;
  std::string first_copy_root;
  std::optional<std::string> primary_root;
  std::string name_format;
  std::string folder_format;
  int number_range_source = 2;
  int partition_size = 1000000;
  std::string extension_list;  // " " + extensions + " "
  std::string preview;
  std::string embed;
  std::string sidecar_template;
  int number_range_digits = 4;
  int ingestion_id = -1;
  std::string client;
  std::string project;
  std::string raw_settings_path;
  const std::vector<std::string>* file_array = nullptr;  // not owned
  // Corrections of the images' capture times (not owned); none: the times as they are.
  const CaptureShifts* capture_shifts = nullptr;
  // The corrected dates are written into the final copies' EXIF (on request only).
  bool write_exif_times = false;
  std::string scan_root;
  std::string card_folder;
  std::string converter_params;
  // The card as the ledger records it: its volume label and file-system UUID (empty when the
  // source has none, a camera for one).
  std::string card_label;
  std::string card_uuid;
  // The card keeps its file times as wall-clock time (FAT, exFAT): a file of it is recognised
  // by its time only within the shifts of a change of zone (card_time.h).
  bool card_local_times = false;
  // Every copy is read back from the disk and compared with its source by hash.
  bool verify_copies = true;
  // Copies of earlier runs are read back again even when their fingerprints are unchanged.
  bool reverify = false;
};

// What the run works with but does not own: who runs it (slot, slot control), the database
// connection of its record, the session's macro environment, the GPS settings and the camera.
struct RunServices {
  EngineJob job;
  // Tracks, clock adjustment and ExifTool of GPS tagging (not owned); none: tagging is off.
  const GpsRunSettings* gps = nullptr;
  // Where the macros of names, folders and sidecars read presets, the database and notes (not
  // owned; none: nothing but the images' own values).
  MacroEnvironment* macro_env = nullptr;
  // The connection that holds the run's ingestion record (not owned; none: results are only
  // logged).
  Database* database = nullptr;
  // The camera "ptp/" paths are listed, examined and read on (not owned; none: no camera,
  // and a camera card ends the run as not connected).
  CameraSource* cameras = nullptr;

  SlotControl& control() { return *job.control; }
};

// The run's working state: the card's files, the images and folders, the ledger, the buffers,
// and the helpers that work beside the copying.
struct RunState {
  std::string folder_scratch;
  CardFiles card_files;
  std::string real_first_copy_root;  // the first-copy root as the system resolves it
  std::string checked_folder;        // the target folder last found inside its tree
  std::string checked_folder_real;   // and that folder as the system resolves it
  std::string copied_folder;         // the folder a later tree's copy was last recorded in
  std::string copied_folder_real;    // and that folder as the system resolves it
  DiskFlush disk_flush;              // the file systems this phase wrote to
  FlushAhead flush_ahead;            // and their syncs while the phase goes on
  FolderHandles target_folders;      // the folders the run writes into, kept open

  FolderTable folders;
  std::vector<ImageRecord> images;  // in scan order
  std::string extension_scratch;
  std::unique_ptr<char[]> read_buffer;  // kCopyBufferSize bytes once allocated
  std::vector<std::string> owned_paths;
  std::vector<std::string> gps_list;  // files to be GPS-tagged
  // Corrections of the camera clock for copies whose capture times are corrected (seconds, by
  // the copy's path): their positions are looked up at the corrected time.
  std::map<std::string, std::int64_t> gps_time_shifts;
  std::shared_ptr<TagWriter> gps_writer;  // the run's one ExifTool process, once started
  ImageChecks image_checks;               // verification of the first copies, off this thread
  // What the threads that name images and prepare sidecars ahead of the copying join while
  // the copying runs on a processor of its own (ProcessorSplit); nothing to join otherwise.
  ProcessorSplit::Helpers copying_helpers;
  // The first copies' sidecars prepared ahead while the first copies are made; none
  // otherwise.
  std::unique_ptr<SidecarWorker> sidecar_worker;
  RunLedger ledger;
  CopyVerifier verifier;
  std::vector<VerifyResult> verifier_results;  // read back on the run's thread, not recorded yet
  std::unique_ptr<ReadAhead> read_ahead;       // earlier copies being read; none: not reading ahead
  std::array<std::string, 3> real_roots;       // of the trees (CopyTree), once resolved
  SettledCopies settled_copies;                // the end of the run's look at the copies
};

// What the run tells whoever ran it: the report, the error text, the counters, where the
// images went and the line it ends with.
struct RunResult {
  std::string report;
  std::string error;
  // What failed first, with the file it failed on where there is one: the line a window shows
  // when the run ends with an error (the error text may name only the run's last failure).
  std::string first_error;
  RunCounters counts;
  std::optional<std::string> destination_folder;  // last primary folder that got an image
  std::optional<std::string> first_copy_folder;   // folder of the last first copy
  // What came of writing corrected dates: copies written, failures, final copies that cannot
  // carry EXIF (videos).
  int exif_times_written = 0;
  int exif_times_failed = 0;
  std::vector<std::string> exif_times_uncarried;
  std::vector<std::string> gps_untaggable;  // files that cannot carry GPS tags (videos)
  // The line the run ends with: whether the card may be formatted, and why not.
  FormatVerdict verdict;

  // Keeps `message` as the first error unless one was kept already.
  void note_first_error(std::string_view message);
};

// One run of one slot: its options, services, state and result, and the reporting operations
// that every step of the engine uses. A step that needs less takes only the parts it uses.
class EngineContext : public RunReporter,
                      public RunOptions,
                      public RunServices,
                      public RunState,
                      public RunResult {
 public:
  explicit EngineContext(EngineJob job);
  ~EngineContext() override;

  RunOptions& options() { return *this; }
  const RunOptions& options() const { return *this; }
  RunServices& services() { return *this; }
  RunState& state() { return *this; }
  RunResult& result() { return *this; }
  const RunResult& result() const { return *this; }

  // RunReporter: the slot's status and progress go to its control, text to the report.
  bool fail(std::string_view message) override;
  void report_append(std::string_view text) override { report += text; }
  bool stop_requested() override;
  void status_set(std::string_view text) override;
  void image_failed(const std::string& message, const std::string& path) override;
  void progress_begin(ProgressPhase phase, int files, std::uint64_t bytes) override;
  void progress_bytes(std::uint64_t n) override;
  void progress_file_done(std::uint64_t file_size) override;

  // The run's own metadata state (its macro environment, sidecar cache and their lock), made
  // on first use from `macro_env` and `capture_shifts`.
  RunMetadata& metadata();
  // The environment the run's macros use: `macro_env` with the run's remembered values. Used
  // holding metadata().hold().
  MacroEnvironment& macro_environment();

 private:
  std::unique_ptr<RunMetadata> metadata_;
};

}  // namespace cw
