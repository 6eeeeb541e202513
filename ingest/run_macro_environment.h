// The macro environment of one run: the session's (or the images-only one) with what cannot
// change while the run goes on remembered. Each image's EXIF values are read once for its
// name, its folder and its sidecar, and each database value once for the whole run, rather
// than once for every macro that asks (a card of small images spends most of its naming time
// there otherwise).
//
// An image whose camera clock was wrong gets its dates corrected here, as they are read: every
// macro that dates the image by its contents (an EXIF date, a movie's header time, their month
// and weekday names) then sees the corrected time, and the file itself is never changed.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <unordered_map>

#include "metadata/macro_environment.h"

namespace cw {

class CaptureShifts;

class RunMacroEnvironment : public MacroEnvironment {
 public:
  // `shifts` (not owned, may be null) corrects the dates recorded in the images.
  explicit RunMacroEnvironment(MacroEnvironment& base, const CaptureShifts* shifts = nullptr)
      : base_(base), shifts_(shifts) {}

  PresetValue master_property(std::string_view name) override {
    return base_.master_property(name);
  }
  bool master_property_values(std::string_view name, std::vector<PresetValue>& values) override {
    return base_.master_property_values(name, values);
  }
  bool iptc_presets_loaded() override { return base_.iptc_presets_loaded(); }
  PresetValue iptc_property(IptcPreset preset, std::string_view name) override {
    return base_.iptc_property(preset, name);
  }
  std::string notes_text() override { return base_.notes_text(); }
  std::optional<std::string> database_value(const DatabaseLookup& lookup) override;
  bool image_exif(const std::string& path, ExifPairs& pairs) override;
  std::optional<std::string> image_exif_value(const std::string& path,
                                              std::string_view name) override;

  // An image's values read now and corrected as remembered ones are, without remembering
  // them: the read touches nothing of this environment, so it needs no lock. A thread that
  // names images reads them so, and hands them over with remember() holding the lock, so that
  // the lock is not held through the reading of the file.
  bool read_exif(const std::string& path, ExifPairs& pairs);
  // Remembers an image's values read with read_exif (none: the image is unreadable).
  const std::optional<ExifPairs>& remember(const std::string& path,
                                           std::optional<ExifPairs> pairs);
  bool remembers(const std::string& path) const { return find(path) != nullptr; }

 private:
  // The remembered pairs of a readable image (read now if need be); null when unreadable.
  // Images are read through the base's read_image_exif.
  const ExifPairs* remembered(const std::string& path);

  // The remembered values of `path`, or null.
  const std::optional<ExifPairs>* find(const std::string& path) const;

  // Images are remembered in two generations of kGeneration each: once the newer is full it
  // becomes the older, and the older is forgotten. The run asks for an image's values shortly
  // after its naming read them (its ledger entry, its sidecar), so every image remembered is
  // still there when asked for, while a card of any size holds at most 2 x kGeneration.
  static constexpr std::size_t kGeneration = 1024;

  MacroEnvironment& base_;
  const CaptureShifts* shifts_;
  std::map<std::string, std::optional<std::string>> values_;  // by query text
  // By path; none for an image that cannot be read.
  std::unordered_map<std::string, std::optional<ExifPairs>> images_, older_images_;
};

}  // namespace cw
