// The EXIF values and structure of camera files, through the image reader.
#include "control/exif_values.h"

#include "control/app_session.h"
#include "imagefile/identity.h"
#include "imagefile/tv_reader.h"
#include "metadata/macro_settings_env.h"

namespace cw {

bool session_video_times_local(AppSession& session) {
  return session.macro_environment().video_times_local;
}

ExifValueReader::ExifValueReader(bool video_times_local, CameraSource* cameras)
    : reader_(std::make_unique<TV_Reader>()) {
  reader_->set_video_times_local(video_times_local);
  reader_->set_cameras(cameras);
}

ExifValueReader::~ExifValueReader() = default;

ExifReading ExifValueReader::read(const std::string& path) {
  ExifReading out;
  out.read = reader_->open(path, true, true);
  if (!out.read) out.message = reader_->message();
  if (const TV_Image* image = reader_->image())
    for (const MacroPair& p : image->macro_pairs) out.values.emplace_back(p.name, p.value);
  if (out.read) out.capture_identity = capture_identity(*reader_, path);
  return out;
}

bool ExifValueReader::dump(const std::string& path, const StructureSink& sink,
                           std::string& message) {
  reader_->set_print([&sink](std::string_view text) { sink(text); });
  const bool ok = reader_->open(path, false, false);
  reader_->set_print(nullptr);
  message = ok ? "" : reader_->message();
  return ok;
}

}  // namespace cw
