// Naming of one image: sequence numbers, number texts, unique ids, the name and folder
// expansions and the number-range partition folders.
#include "ingest/naming.h"

#include <limits.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "foundation/capture_shift.h"
#include "foundation/fs.h"
#include "foundation/log.h"
#include "foundation/path_guard.h"
#include "foundation/text.h"
#include "ingest/run_metadata.h"
#include "metadata/macro.h"
#include "metadata/macro_exif.h"
#include "metadata/macro_environment.h"
#include "platform/camera_source.h"

namespace cw {

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

// Examines a source on disk or on the run's camera: its size and modification time.
bool examine_source(CameraSource* cameras, const std::string& path, std::uint64_t& size,
                    std::time_t& modified) {
  errno = 0;
  if (is_camera_path(path)) {
    CameraFileInfo info;
    if (!stat_camera_path(cameras, path, info)) return false;
    size = info.size;
    modified = info.modified;
    return true;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  size = static_cast<std::uint64_t>(st.st_size);
  modified = st.st_mtime;
  return true;
}

std::string date_text(std::time_t when) {
  std::tm local{};
  char text[32];
  if (!localtime_r(&when, &local) ||
      std::strftime(text, sizeof text, "%Y%m%d_%H%M%S", &local) == 0)
    return "00000000_000000";
  return text;
}

std::string sequence_text(long sequence) {
  char text[32];
  std::snprintf(text, sizeof text, "%06ld", sequence);
  return text;
}

// The inputs that the name and folder expansions share.
MacroInputs naming_inputs(RunServices& services, const ImageRecord& record, long sequence) {
  MacroInputs in;
  in.cur_filename = record.base_name;
  in.cur_datetime = date_text(record.capture_time());
  in.cur_sequence = sequence_text(sequence);
  in.unique_id = make_unique_id();
  in.number_range = services.control().number_ranges().placeholder;
  in.cur_path = record.source_path();
  in.ext = record.extension();
  in.xml = false;
  return in;
}

// A card's name, or its folders' path, put into a folder expansion: a backslash, which the
// expansion would take for a separator, becomes "-" as in any cleaned name.
std::string one_name(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '-');
  return name;
}

// Writes partition index `p` over the second half of the placeholder at `at`.
void write_partition(std::string& path, std::size_t at, const NumberRangeState& ranges, long p) {
  const std::size_t dash = ranges.placeholder.find('-');
  const std::size_t half = at + dash + 1;
  const std::size_t width = ranges.placeholder.size() - dash - 1;
  char digits[32];
  std::snprintf(digits, sizeof digits, ranges.single_format.c_str(), static_cast<int>(p));
  path.replace(half, width, std::string(digits).substr(0, width));
}

}  // namespace

std::string number_text_for(int number_range_source, const std::string& base_name,
                            long sequence) {
  if (number_range_source == 1) return base_name.size() >= 8 ? base_name.substr(4, 4) : "";
  return sequence_text(sequence);
}

std::string replace_forbidden_name_characters(std::string name) {
  for (char& c : name)
    if (std::strchr("%*/:<>\\", c) && c != '\0') c = '-';
  return name;
}

std::string make_unique_id() {
  using namespace std::chrono;
  const auto now = system_clock::now().time_since_epoch();
  const long seconds = static_cast<long>(duration_cast<std::chrono::seconds>(now).count());
  const long millisecond = static_cast<long>(duration_cast<milliseconds>(now).count() % 1000);
  char text[48];
  std::snprintf(text, sizeof text, "%lX%.5lX", static_cast<unsigned long>(seconds),
                static_cast<unsigned long>(millisecond * 1000));
  return text;
}

void read_exif_ahead(EngineContext& ctx, const ImageRecord& record) {
  RunMetadata& metadata = ctx.metadata();
  const std::string path = record.source_path();
  {
    auto held = metadata.hold();
    if (metadata.environment().remembers(path)) return;
  }
  ExifPairs pairs;
  const bool read = metadata.environment().read_exif(path, pairs);
  auto held = metadata.hold();
  metadata.environment().remember(path, read ? std::optional(std::move(pairs)) : std::nullopt);
}

bool exif_remembered(EngineContext& ctx, const ImageRecord& record) {
  auto held = ctx.metadata().hold();
  return ctx.metadata().environment().remembers(record.source_path());
}

bool make_file_name(EngineContext& ctx, ImageRecord& record, long& sequence) {
  sequence = ctx.control().take_sequence_number();
  record.number_text = number_text_for(ctx.number_range_source, record.base_name, sequence);
  std::string expanded;
  bool ok;
  {
    auto held = ctx.metadata().hold();
    ok = macro_process_with_data(ctx.name_format, expanded,
                                 naming_inputs(ctx, record, sequence), ctx.macro_environment());
  }
  // Camera values in the name (an EXIF model, say) are cleaned like any other text.
  if (ok) expanded = safe_path_component(replace_forbidden_name_characters(std::move(expanded)));
  record.new_base_name = ok && !expanded.empty() ? std::move(expanded)
                                                 : safe_path_component(record.base_name);
  if (record.new_base_name.empty()) record.new_base_name.assign(1, '_');
  return true;
}

bool make_folder_path(EngineContext& ctx, ImageRecord& record, long sequence,
                      std::string& report) {
  std::string spec = ctx.first_copy_root;
  if (spec.empty() || !is_separator(spec.back())) spec += '/';
  const std::size_t prefix_length = spec.size();
  std::size_t skip = 0;
  const std::string& format = ctx.folder_format;
  while (skip < format.size() &&
         (std::isspace(static_cast<unsigned char>(format[skip])) || format[skip] == '\\' ||
          format[skip] == '/' || format[skip] == ':'))
    ++skip;
  spec.append(format, skip);

  // The batch's runs share the number ranges: the partition is counted, chosen and taken in
  // one hold of their lock.
  NumberRangeState& ranges = ctx.control().number_ranges();
  auto held = ctx.metadata().hold();
  Guard ranges_held(ranges.mutex);
  MacroInputs in = naming_inputs(ctx, record, sequence);
  // The expansion is split into folders at both slashes (a format may be written with either);
  // a card's name holding a backslash stays one name, cleaned as its other refused characters.
  in.cur_filename = one_name(std::move(in.cur_filename));
  in.ext = one_name(std::move(in.ext));
  in.cur_relPath = one_name(record.relative_folder());
  std::string path;
  if (!macro_process_with_data(spec, path, in, ctx.macro_environment()) || path.empty()) {
    record.target = &ctx.folders.intern(".");
    return true;
  }
  while (!path.empty() && std::isspace(static_cast<unsigned char>(path.back()))) path.pop_back();
  // The expansion below the root is cleaned component by component: nothing a value brings
  // in ("..", control characters, characters file systems refuse) leads out of the tree or
  // fails there.
  path = spec.substr(0, prefix_length) +
         safe_relative_path(path.size() > prefix_length ? path.substr(prefix_length) : "");

  const std::size_t at =
      ranges.placeholder.empty() ? std::string::npos : path.find(ranges.placeholder);
  if (at != std::string::npos) {
    const std::size_t end = at + ranges.placeholder.size();
    if (end < path.size() && !is_separator(path[end])) {
      report += "\nERROR: Text appears after {@numberrange} macro.\n";
      return false;
    }
    std::string rest = path.substr(end);
    path.resize(end);
    const long n = number_range_count_path(ranges);
    long p = (n - 1) / ctx.partition_size;
    while (p < ranges.modulus) {
      write_partition(path, at, ranges, p);
      // A folder left by another (stopped) ingestion under the same name is skipped.
      if (!path_exists(path) || number_range_find(ranges, path)) break;
      ++p;
    }
    number_range_add(ranges, path, record.number_text);
    path += rest;
  }
  record.target = &ctx.folders.intern(
      path.size() > prefix_length ? std::string_view(path).substr(prefix_length) : ".");
  return true;
}

bool examine_image(EngineContext& ctx, ImageRecord& record, std::string& message) {
  if (record.source_path().size() >= PATH_MAX) {
    message = "path too long";
    return false;
  }
  // A file the card's listing took was looked at then, moments ago.
  if (!record.listed &&
      !examine_source(ctx.cameras, record.source_path(), record.size, record.modified)) {
    log_printf("Error accessing path %s %s", record.source_path().c_str(),
               errno ? std::strerror(errno) : "");
    message = text_with_path("error accessing path (1)", record.source_path());
    return false;
  }
  // A wrong camera clock is corrected here for the file's time, and by the run's macro
  // environment for the times inside the file.
  record.file_time_shift = record.recorded_time_shift = 0;
  if (ctx.capture_shifts)
    if (const std::optional<CaptureShift> shift = ctx.capture_shifts->find(record.source_path())) {
      record.file_time_shift = shift->file_time;
      record.recorded_time_shift = shift->recorded;
    }
  return true;
}

bool name_examined_image(EngineContext& ctx, ImageRecord& record, std::string& message,
                         std::string& report) {
  number_range_choose(ctx.control().number_ranges(), ctx.number_range_digits);
  long sequence = 0;
  if (!make_file_name(ctx, record, sequence)) {
    message = "can't make image file name";
    return false;
  }
  if (!make_folder_path(ctx, record, sequence, report)) {
    message = "can't make image folder path";
    return false;
  }
  return true;
}

bool name_image(EngineContext& ctx, ImageRecord& record, std::string& message) {
  std::string report;
  const bool ok =
      examine_image(ctx, record, message) && name_examined_image(ctx, record, message, report);
  ctx.report_append(report);
  return ok;
}

}  // namespace cw
