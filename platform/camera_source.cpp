// The installed camera source.
#include "platform/camera_source.h"

#include <atomic>

namespace cw {

namespace {
NoCameraSource no_camera;
std::atomic<CameraSource*> installed{nullptr};
}  // namespace

void set_camera_source(CameraSource* source) { installed.store(source); }

CameraSource& camera_source() {
  CameraSource* s = installed.load();
  return s ? *s : no_camera;
}

}  // namespace cw
