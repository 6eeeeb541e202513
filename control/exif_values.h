// Reading camera files' EXIF values: what `cardwright exif` does. For each file, the values the
// reader takes from it as naming reads them (the names the {@exif.NAME} macros take) and its
// capture identity; on request the file's whole directory structure as the reader walks it.
// The files are only read.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cw {

class AppSession;
class CameraSource;
class TV_Reader;

// Whether the session reads movie header times kept in UTC as the camera's local time.
bool session_video_times_local(AppSession& session);

struct ExifReading {
  bool read = false;     // the file was read to its end
  std::string message;   // why it was not
  // Name and value of every value read, in the reader's order; those read before a failure
  // are here too (they are what naming would use).
  std::vector<std::pair<std::string, std::string>> values;
  std::string capture_identity;  // when the file was read
};

// Receives the structure text piece by piece.
using StructureSink = std::function<void(std::string_view text)>;

// One reader for a list of files.
class ExifValueReader {
 public:
  // `video_times_local`: movie header times kept in UTC are the camera's local time.
  // "ptp/" paths are read on `cameras` (not owned; null: no camera).
  ExifValueReader(bool video_times_local, CameraSource* cameras);
  ~ExifValueReader();
  ExifValueReader(const ExifValueReader&) = delete;
  ExifValueReader& operator=(const ExifValueReader&) = delete;

  ExifReading read(const std::string& path);
  // Walks the file's directory structure into `sink`. False with `message` when the walk did
  // not reach its end (what was walked is in `sink`).
  bool dump(const std::string& path, const StructureSink& sink, std::string& message);

 private:
  std::unique_ptr<TV_Reader> reader_;
};

}  // namespace cw
