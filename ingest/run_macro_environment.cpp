// Remembered database values and EXIF values of one run.
#include "ingest/run_macro_environment.h"

#include "foundation/capture_shift.h"
#include "metadata/macro_exif.h"

namespace cw {

std::optional<std::string> RunMacroEnvironment::database_value(const DatabaseLookup& lookup) {
  const std::string sql = lookup.sql();
  auto it = values_.find(sql);
  if (it == values_.end()) it = values_.emplace(sql, base_.database_value(lookup)).first;
  return it->second;
}

bool RunMacroEnvironment::read_exif(const std::string& path, ExifPairs& pairs) {
  // Read afresh, not through the base's own cache: the base is the session's, which other
  // runs use too.
  if (!base_.read_image_exif(path, pairs)) return false;
  if (shifts_)
    if (const std::optional<CaptureShift> shift = shifts_->find(path); shift && shift->recorded)
      for (auto& [name, value] : pairs)
        if (name == "DateTimeOriginal" || name == "DateTimeDigitized" || name == "DateTimeChanged")
          value = shift_exif_date(value, shift->recorded);
  return true;
}

const std::optional<ExifPairs>& RunMacroEnvironment::remember(const std::string& path,
                                                             std::optional<ExifPairs> pairs) {
  if (images_.size() >= kGeneration) {
    older_images_ = std::move(images_);
    images_.clear();
  }
  return images_.insert_or_assign(path, std::move(pairs)).first->second;
}

const std::optional<ExifPairs>* RunMacroEnvironment::find(const std::string& path) const {
  if (const auto it = images_.find(path); it != images_.end()) return &it->second;
  if (const auto it = older_images_.find(path); it != older_images_.end()) return &it->second;
  return nullptr;
}

const ExifPairs* RunMacroEnvironment::remembered(const std::string& path) {
  const std::optional<ExifPairs>* known = find(path);
  if (!known) {
    // An unreadable image is remembered as such (its failure is logged once).
    ExifPairs pairs;
    const bool read = read_exif(path, pairs);
    known = &remember(path, read ? std::optional(std::move(pairs)) : std::nullopt);
  }
  return *known ? &**known : nullptr;
}

bool RunMacroEnvironment::image_exif(const std::string& path, ExifPairs& pairs) {
  const ExifPairs* known = remembered(path);
  if (known) pairs = *known;
  return known != nullptr;
}

std::optional<std::string> RunMacroEnvironment::image_exif_value(const std::string& path,
                                                                 std::string_view name) {
  // Asked a few times for every image: searched where it is kept rather than copied out.
  const ExifPairs* known = remembered(path);
  if (!known) return std::nullopt;
  return exif_pair_value(*known, name);
}

}  // namespace cw
