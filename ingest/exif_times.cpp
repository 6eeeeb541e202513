// Corrected capture dates written into final copies through the run's ExifTool process.
#include "ingest/exif_times.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "foundation/capture_shift.h"
#include "foundation/fs.h"
#include "foundation/log.h"
#include "foundation/runner.h"
#include "foundation/sysio.h"
#include "foundation/text.h"
#include "gps/tag_writer.h"
#include "ingest/archive_check.h"
#include "ingest/card_layout.h"
#include "ingest/gps_phase.h"
#include "ingest/run_ledger.h"
#include "metadata/macro_exif.h"

namespace cw {

namespace {

// The reader's names of the dates a camera writes, and the tags ExifTool writes them as.
struct DateTag {
  const char* pair;
  const char* tag;
};
constexpr DateTag kDateTags[] = {
    {"DateTimeOriginal", "-EXIF:DateTimeOriginal="},
    {"DateTimeDigitized", "-EXIF:CreateDate="},
    {"DateTimeChanged", "-EXIF:ModifyDate="},
};

// A file name ExifTool would read as an option, a comment or with its leading blanks lost.
std::string file_argument(const std::string& path) {
  std::string file = system_path(path);
  if (!file.empty() && (file.front() == '-' || file.front() == '#' || file.front() == ' ' ||
                        file.front() == '\t'))
    file.insert(0, "./");
  return file;
}

// True when ExifTool can take `arg` as one line of its argument input.
bool fits_a_line(const std::string& arg) {
  for (unsigned char c : arg)
    if (c < 0x20 || c == 0x7f) return false;
  return arg.empty() || arg.back() != ' ';
}

bool cannot_carry_exif(const std::string& path) {
  const std::size_t dot = path.find_last_of("./");
  return has_no_exif_by_design(path) ||
         (dot != std::string::npos && path[dot] == '.' &&
          is_video_extension(std::string_view(path).substr(dot + 1)));
}

TagWriter& writer_of(EngineContext& ctx) {
  if (!ctx.gps_writer)
    ctx.gps_writer = std::make_shared<TagWriter>(ctx.gps ? ctx.gps->exiftool : kExifToolName);
  return *ctx.gps_writer;
}

// The complete new file, synced, replaces the copy with the copy's permissions.
bool replace_copy(const std::string& temp, const std::string& copy, std::string& why) {
  struct stat st;
  if (::stat(copy.c_str(), &st) != 0) {
    why = "can't get stat of " + copy;
    return false;
  }
  const int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    why = "ExifTool wrote no file " + temp;
    return false;
  }
  const bool synced = sysio().fsync(fd) == 0;
  ::fchmod(fd, st.st_mode & 07777);
  ::close(fd);
  // Meant to replace the copy: the rename that never replaces is not the one here.
  if (!synced || ::rename(temp.c_str(), copy.c_str()) != 0) {
    why = "can't rename " + temp + " to " + copy;
    return false;
  }
  return true;
}

// Runs ExifTool on one copy; false with `why` set when it wrote no new file.
bool run_exiftool(EngineContext& ctx, const std::vector<std::string>& args, std::string& why) {
  const StopSource stop = [&ctx] { return ctx.stop_requested(); };
  const std::string exiftool = ctx.gps ? ctx.gps->exiftool : kExifToolName;
  std::vector<std::string> argv{exiftool};
  argv.insert(argv.end(), args.begin(), args.end());
  log_printf("ExifTool command line: %s", quoted_command_line(argv).c_str());
  if (std::all_of(args.begin(), args.end(), fits_a_line)) {
    // The writer's answer is ExifTool's first line on the image; none when all went well.
    return writer_of(ctx).run(args, why, stop) && why.empty();
  }
  const bool ok = run_program(exiftool, argv, why, 4096, stop);
  why = why.substr(0, why.find('\n'));
  return ok && why.empty();
}

}  // namespace

std::vector<std::string> corrected_date_args(const ExifPairs& pairs, std::int64_t seconds,
                                             const std::string& copy, const std::string& output) {
  std::vector<std::string> args{"-q", "-m", "-P", "-o", file_argument(output)};
  for (const DateTag& date : kDateTags) {
    const std::optional<std::string> value = exif_pair_value(pairs, date.pair);
    if (!value) continue;
    const std::string moved = shift_exif_date(*value, seconds);
    if (moved != *value) args.push_back(date.tag + moved);
  }
  if (args.size() == 5) return {};
  args.push_back(file_argument(copy));
  return args;
}

bool corrected_dates_due(const RunOptions& options, const std::string& source,
                         const std::string& copy) {
  if (!options.write_exif_times || !options.capture_shifts) return false;
  const std::optional<CaptureShift> shift = options.capture_shifts->find(source);
  return shift && shift->recorded != 0 && !cannot_carry_exif(copy);
}

void write_corrected_dates(EngineContext& ctx, const std::string& copy, const std::string& source,
                           std::optional<CopyRef> record, bool gps_follows) {
  if (!ctx.write_exif_times || !ctx.capture_shifts) return;
  const std::optional<CaptureShift> shift = ctx.capture_shifts->find(source);
  if (!shift || shift->recorded == 0) return;
  // Whatever comes of it, a copy recorded as due to change gets its file's hash again, unless
  // GPS tags follow.
  const auto settle = [&ctx, record, gps_follows] {
    if (record && !gps_follows) end_copy_change(ctx.state(), ctx, *record);
  };
  if (cannot_carry_exif(copy)) {
    if (std::find(ctx.exif_times_uncarried.begin(), ctx.exif_times_uncarried.end(), copy) ==
        ctx.exif_times_uncarried.end())
      ctx.exif_times_uncarried.push_back(copy);
    return settle();
  }
  ExifPairs pairs;
  std::string why;
  if (!read_image_macro_pairs(source, pairs, why, false, ctx.cameras)) {
    ctx.report_printf("ERROR writing EXIF dates to %s: %s\n", copy.c_str(), why.c_str());
    ++ctx.exif_times_failed;
    return settle();
  }
  const std::string temp = tagged_temp_path(copy);
  const std::vector<std::string> args = corrected_date_args(pairs, shift->recorded, copy, temp);
  if (args.empty()) return settle();  // no date of the camera's to correct
  if (record && !begin_copy_change(ctx.state(), ctx, *record, true)) return;
  const std::size_t sep = copy.find_last_of('/');
  ctx.status_printf("Writing EXIF dates: %s",
                    copy.c_str() + (sep == std::string::npos ? 0 : sep + 1));
  sysio().unlink(temp.c_str());  // what a change that never finished left
  const bool written = run_exiftool(ctx, args, why) && replace_copy(temp, copy, why);
  if (!written) {
    sysio().unlink(temp.c_str());
    ctx.report_printf("ERROR writing EXIF dates to %s: %s\n", copy.c_str(), why.c_str());
    ++ctx.exif_times_failed;
  } else {
    ++ctx.exif_times_written;
  }
  if (!record) return;
  // Without GPS tags to come the change is over; with them the copy stays "changing".
  if (gps_follows) continue_copy_change(ctx.state(), *record);
  else end_copy_change(ctx.state(), ctx, *record);
}

void write_corrected_dates_of_first_copies(EngineContext& ctx) {
  if (!ctx.write_exif_times || !ctx.capture_shifts) return;
  const std::string root = tree_root(ctx.options(), ctx.state(), CopyTree::kFirst);
  for (const ImageRecord& r : ctx.images) {
    if (ctx.stop_requested()) return;
    if (!r.has_first_copy()) continue;
    std::optional<CopyRef> ref;
    if (r.ledger >= 0) {
      const std::size_t entry = static_cast<std::size_t>(r.ledger);
      if (const std::optional<std::size_t> copy = copy_in_tree(ctx.ledger.at(entry), root))
        ref = CopyRef{entry, *copy};
    }
    write_corrected_dates(ctx, r.first_copy_path(), r.source_path(), ref,
                          gps_tagging_enabled(ctx));
  }
}

void corrected_dates_summary(const RunOptions& options, RunResult& result) {
  if (!options.write_exif_times) return;
  result.report += format_limited(1000, "\nCorrected EXIF dates:\n\t%d written\n\t%d error(s)\n",
                                  result.exif_times_written, result.exif_times_failed);
  if (!result.exif_times_uncarried.empty()) {
    std::string line = format_limited(100, "\t%d video(s) cannot carry EXIF dates:",
                                      static_cast<int>(result.exif_times_uncarried.size()));
    for (std::size_t i = 0; i < result.exif_times_uncarried.size(); ++i)
      line += (i ? ", " : " ") + result.exif_times_uncarried[i];
    result.report += line + "\n";
  }
}

}  // namespace cw
