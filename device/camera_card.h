// What the command line and the desktop program call to ingest from a camera: the camera
// source the session owns for the life of the program, and the check of a card folder that
// names a camera before an ingestion starts.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/camera_source.h"

namespace cw {

// The program's camera source, on libgphoto2 (USB cameras, and the folders named in
// CARDWRIGHT_CAMERA_FOLDERS as "Directory Browse" cameras). Its owner keeps it until the
// program ends and hands it to the runs and tools that read cameras.
std::unique_ptr<CameraSource> make_camera_source();

// The camera a card folder names: "ptp/NAME" (the command line's --card) and "Device: NAME"
// (the card chooser's entry) give NAME, "ptp" alone an empty name; nothing for a folder.
std::optional<std::string> camera_card_name(const std::string& card);

// For a card folder that names a camera: true when `cameras` finds that camera and can open it
// (it stays open for the run that follows), else false with the message to show, "No camera
// named NAME is connected." or why it cannot be opened. True for other folders: an empty card
// is still a successful run.
bool check_camera_card(CameraSource& cameras, const std::string& card, std::string& message);

}  // namespace cw
