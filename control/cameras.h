// Cameras: what `cardwright camera` shows, the cameras connected over USB (and the folders
// served as cameras) and the images one of them holds, read through the session's camera
// source. An ingestion from a camera goes through the Start flow like any card.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace cw {

class AppSession;

struct ConnectedCamera {
  std::string name;  // the friendly name an ingestion gives as "ptp/NAME"
  std::string port;
};

// The connected cameras, in the order the source lists them.
std::vector<ConnectedCamera> connected_cameras(AppSession& session);

struct CameraImage {
  std::string path;      // "ptp/" + the file name
  bool known = false;    // size and time could be read
  std::uint64_t size = 0;
  std::time_t modified = 0;
};

// The images of the camera named `name`, with their sizes and times; the camera is released
// afterwards. False with the message for the person at the machine when it is not connected,
// cannot be opened or cannot be walked.
bool camera_images(AppSession& session, const std::string& name, std::vector<CameraImage>& images,
                   std::string& message);

}  // namespace cw
