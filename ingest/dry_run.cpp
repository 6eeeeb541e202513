// The plan of a dry run, from the named image list.
#include "ingest/dry_run.h"

#include <sys/stat.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <map>

#include "foundation/fs.h"
#include "foundation/text.h"
#include "ingest/converter.h"
#include "ingest/unique_target.h"

namespace cw {

namespace {

// A placeholder folder of the number range under its final name.
std::string final_path(const NumberRangeState& ranges, const std::string& path) {
  for (const RangeFolder& f : ranges.folders)
    if (path.compare(0, f.path.size(), f.path) == 0 &&
        (path.size() == f.path.size() || is_separator(path[f.path.size()])))
      return number_range_final_path(ranges, f) + path.substr(f.path.size());
  return path;
}

class Planner {
 public:
  Planner(const RunOptions& options, const NumberRangeState& ranges, CameraSource* cameras,
          RunResult& result)
      : options_(options), ranges_(ranges), cameras_(cameras), result_(result) {}

  void plan(const ImageRecord& r) {
    line("%s\n", r.source_path().c_str());
    std::string target = first_copy_target(r);
    bool duplicate = false;
    if (!unique_name(target, r.source_path(), duplicate)) {
      line("    -> no free name for %s\n", target.c_str());
      ++totals_.no_name;
      return;
    }
    if (duplicate) {
      line("    -> already in %s (skipped)\n", target.c_str());
      ++totals_.archived;
      return;
    }
    ++totals_.copies;
    totals_.bytes += r.size;
    line("    -> %s\n", target.c_str());
    if (!options_.primary_root) return;
    // The second copy keeps the first copy's path below its root; a converted raw becomes a DNG.
    std::string relative = target.substr(options_.first_copy_root.size());
    const std::size_t dot = relative.rfind('.');
    const bool converted = converter_of(options_) && !result_.counts.verify_only &&
                           is_convertible_raw(options_, relative) && dot != std::string::npos &&
                           relative.size() - dot - 1 >= 3;
    if (converted) relative.replace(dot, std::string::npos, ".dng");
    line("    -> %s\n", joined(*options_.primary_root, relative).c_str());
    if (options_.want_backup_post && options_.post_backup_root)
      line("    -> %s\n", joined(*options_.post_backup_root, relative).c_str());
  }

  // What the run would do in all, after the list of files.
  void report_totals() {
    const int trees =
        1 + (options_.primary_root ? 1 : 0) +
        (options_.primary_root && options_.want_backup_post && options_.post_backup_root ? 1 : 0);
    result_.report += "\nDry run totals:\n";
    line("    Files to copy: %d (%.1f MB), into %d tree%s\n", totals_.copies,
         static_cast<double>(totals_.bytes) / 1e6, trees, trees == 1 ? "" : "s");
    line("    Files already in the archive: %d\n", totals_.archived);
    if (totals_.no_name > 0) line("    Files without a free name: %d\n", totals_.no_name);
    line("    Files skipped because of extension: %d\n", result_.counts.skipped_by_extension);
  }

 private:
  // One line of the plan, formatted into at most 1000 bytes like the rest of the report.
  void line(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
    va_list ap;
    va_start(ap, fmt);
    result_.report += vformat_limited(1000, fmt, ap);
    va_end(ap);
  }

  static std::string joined(const std::string& root, const std::string& relative) {
    if (!root.empty() && !relative.empty() && is_separator(root.back()) && is_separator(relative[0]))
      return root + relative.substr(1);
    if (!root.empty() && !relative.empty() && !is_separator(root.back()) && !is_separator(relative[0]))
      return root + "/" + relative;
    return root + relative;
  }

  std::string first_copy_target(const ImageRecord& r) const {
    std::string folder = options_.first_copy_root;
    if (r.target_folder() != ".") folder = joined(folder, r.target_folder());
    std::string target = joined(final_path(ranges_, folder), r.new_base_name);
    if (!r.extension().empty()) target += "." + r.extension();
    return target;
  }

  // The name a real run's exclusive creation would end with: the first of the name and its
  // suffixed forms that neither exists nor was planned, unless a taken one holds the same
  // image.
  bool unique_name(std::string& target, const std::string& source, bool& duplicate) {
    SourceFacts facts;
    const bool known = source_facts(source, facts, cameras_);
    for (int n = 0; n <= kMaxUniqueSuffix; ++n) {
      const std::string candidate = suffixed_name(target, n);
      const auto planned = planned_.find(candidate);
      if (planned == planned_.end() && !path_exists(candidate)) {
        planned_[candidate] = source;
        target = candidate;
        return true;
      }
      // Every taken name is compared with the source, as the copy compares them.
      const std::string& holder = planned != planned_.end() ? planned->second : candidate;
      if (known && holds_same_content(holder, facts)) {
        duplicate = true;
        return true;
      }
    }
    return false;
  }

  struct Totals {
    int copies = 0, archived = 0, no_name = 0;
    std::uint64_t bytes = 0;  // of the files to copy, once each
  };

  const RunOptions& options_;
  const NumberRangeState& ranges_;
  CameraSource* cameras_;
  RunResult& result_;
  std::map<std::string, std::string> planned_;  // target → the source planned there
  Totals totals_;
};

}  // namespace

void report_planned_copies(const RunOptions& options, const std::vector<ImageRecord>& images,
                           const NumberRangeState& ranges, CameraSource* cameras,
                           RunResult& result) {
  result.report += kDryRunHeading;
  Planner planner(options, ranges, cameras, result);
  for (const ImageRecord& r : images) planner.plan(r);
  planner.report_totals();
}

}  // namespace cw
