// The cameras and their images.
#include "control/cameras.h"

#include "control/app_session.h"

namespace cw {

std::vector<ConnectedCamera> connected_cameras(AppSession& session) {
  std::vector<ConnectedCamera> out;
  for (const auto& [port, name] : session.cameras().devices()) out.push_back({name, port});
  return out;
}

bool camera_images(AppSession& session, const std::string& name, std::vector<CameraImage>& images,
                   std::string& message) {
  CameraSource& cameras = session.cameras();
  std::vector<std::string> paths;
  if (!cameras.open_device(name, message) || !cameras.images_for_device(name, paths, message))
    return false;
  for (const std::string& path : paths) {
    CameraImage image;
    image.path = path;
    CameraFileInfo info;
    if (cameras.stat(path, info)) {
      image.known = true;
      image.size = info.size;
      image.modified = info.modified;
    }
    images.push_back(std::move(image));
  }
  cameras.close_device();
  return true;
}

}  // namespace cw
