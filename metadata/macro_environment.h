// What the macro expander reads outside its own inputs: preset values, the vocabulary, the
// database, the notes text and the EXIF values of images.
//
// The expander reaches all of these through MacroEnvironment so that it does not depend on
// the preset, database or front-end code, and so that tests and the laboratory can hand it
// values of their own. The base class finds nothing (no properties, IPTC presets not loaded,
// no database rows, empty notes) except EXIF values, which it reads from the image files and
// keeps for the last image read (macro_exif.h). MemoryMacroEnvironment holds its values in
// plain maps.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cw {

class CameraSource;

// One property value as a preset holds it: absent, text, or another kind (a number, say),
// which text lookups treat as empty.
struct PresetValue {
  enum class Kind { Absent, Text, Other };
  Kind kind = Kind::Absent;
  std::string text;

  static PresetValue of(std::string t) { return {Kind::Text, std::move(t)}; }
  static PresetValue other() { return {Kind::Other, {}}; }
  bool is_text() const { return kind == Kind::Text; }
};

// The three metadata presets whose properties the iptc. macros read, in lookup order.
enum class IptcPreset { Photographer, Content, Rights };

// One database value asked for by a TABLE.COLUMN macro: the single result of
// "select COLUMN from TABLE where KEY_COLUMN = 'KEY'". The expander has matched the table
// against the known tables and checked that the column is a plain identifier.
struct DatabaseLookup {
  std::string table;       // SQL table name, e.g. "client"
  std::string key_column;  // e.g. "name"
  std::string column;      // as written in the macro, lowered
  std::string key;         // the record chosen last in the main window

  // The query text, the key quoted as an SQL string literal.
  std::string sql() const;
};

// The (name, value) text pairs the image reader records for the EXIF macro tags, in file order.
using ExifPairs = std::vector<std::pair<std::string, std::string>>;

// The pairs of the last image read, kept for the many values asked of one image in a row.
// Reading another image replaces it; an unreadable image is remembered as such, so its
// failure is read (and logged) once however many values are asked of it. The pairs are those
// read with the movie-time setting asked for. Thread-safe.
class LastImageExif {
 public:
  using Reader = std::function<bool(const std::string& path, ExifPairs& pairs)>;
  // The pairs of `path`: the kept ones when it is the image last read with this setting,
  // else what `read` gives (then kept). A file that has no EXIF by design is never read.
  bool pairs_of(const std::string& path, bool video_times_local, ExifPairs& pairs,
                const Reader& read);

 private:
  std::mutex mutex_;
  bool valid_ = false;
  bool readable_ = false;  // with `valid_`: false when the image could not be read
  std::string path_;
  bool video_times_local_ = false;  // the reading setting the pairs were read with
  ExifPairs pairs_;
};

class MacroEnvironment {
 public:
  virtual ~MacroEnvironment() = default;

  // A property of the master preset's working set; names compare without regard to case.
  virtual PresetValue master_property(std::string_view name);
  // All values of a multi-valued master property in index order (the "Vocabulary"); false
  // when the property cannot be read at all.
  virtual bool master_property_values(std::string_view name, std::vector<PresetValue>& values);
  // Whether the photographer, content and rights presets are loaded.
  virtual bool iptc_presets_loaded();
  virtual PresetValue iptc_property(IptcPreset preset, std::string_view name);
  // The database value, or nothing when no row matches (or there is no database yet).
  virtual std::optional<std::string> database_value(const DatabaseLookup& lookup);
  // The text of the main window's notes field at this moment.
  virtual std::string notes_text();
  // The recorded EXIF pairs of the image at `path`; false when the image cannot be read.
  // The base keeps the last image read_image_exif read (each environment its own).
  virtual bool image_exif(const std::string& path, ExifPairs& pairs);
  // The pairs read afresh, kept nowhere: the base reads the file (read_image_exif_logged).
  // An environment that keeps images of its own reads through this one.
  virtual bool read_image_exif(const std::string& path, ExifPairs& pairs);
  // One recorded EXIF value of the image at `path`, the name compared without regard to case:
  // empty when the image records none, nothing when the image cannot be read. The base
  // searches what image_exif gives.
  virtual std::optional<std::string> image_exif_value(const std::string& path,
                                                      std::string_view name);

  // How the images' movie times kept in UTC are read: as the camera's local time when set,
  // else in the computer's zone. The session sets it from the preference "VideoTimesLocal"
  // (or --video-times-local); every reader of EXIF values the environment makes takes it.
  bool video_times_local = false;
  // The camera whose "ptp/" images the environment reads (not owned; null: no camera, such an
  // image cannot be read). The session sets its own; a run's environment without a session
  // takes the run's.
  CameraSource* cameras = nullptr;

 private:
  LastImageExif last_image_;
};

// Values held in memory: the laboratory on the command line, tests and the fuzz target.
class MemoryMacroEnvironment : public MacroEnvironment {
 public:
  PresetValue master_property(std::string_view name) override;
  bool master_property_values(std::string_view name, std::vector<PresetValue>& values) override;
  bool iptc_presets_loaded() override { return iptc_loaded; }
  PresetValue iptc_property(IptcPreset preset, std::string_view name) override;
  std::optional<std::string> database_value(const DatabaseLookup& lookup) override;
  std::string notes_text() override { return notes; }
  bool image_exif(const std::string& path, ExifPairs& pairs) override;
  bool read_image_exif(const std::string& path, ExifPairs& pairs) override;

  // Keys are stored lowered (property names compare without regard to case).
  void set_master(std::string_view name, PresetValue value);
  void set_iptc(IptcPreset preset, std::string_view name, PresetValue value);

  std::map<std::string, PresetValue> master;
  std::vector<PresetValue> vocabulary;  // the "Vocabulary" values
  bool vocabulary_readable = true;
  bool iptc_loaded = true;
  std::map<std::string, PresetValue> iptc[3];
  std::map<std::string, std::string> database;  // keyed by DatabaseLookup::sql()
  std::string notes;
  // Images by path; when `images_from_reader` is set, paths not listed are read from the files.
  std::map<std::string, ExifPairs> images;
  bool images_from_reader = false;
};

}  // namespace cw
