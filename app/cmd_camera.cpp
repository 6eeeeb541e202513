// `cardwright camera list|files`: the cameras connected over USB (and the folders served as
// cameras through CARDWRIGHT_CAMERA_FOLDERS), and the images a camera holds. An ingestion from
// a camera is `cardwright ingest --card "ptp/NAME"`.
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "app/command_session.h"
#include "app/commands.h"
#include "app/console_run.h"
#include "foundation/text.h"
#include "control/cameras.h"

namespace cw::app {

namespace {

constexpr const char* kName = "camera";

int run_camera(const CommandSpec& spec, Args& a) {
  const std::vector<std::string>& args = a.words;
  const bool json = a.has("json");
  if (args.empty() || (args[0] == "list" && args.size() != 1) ||
      (args[0] == "files" && args.size() != 2))
    return usage_error(spec.name, "list [--json], or files NAME");
  ConsoleUserInterface ui;
  CommandSession session(ui, kStepCameras);
  if (args[0] == "list") {
    const std::vector<ConnectedCamera> cameras = connected_cameras(*session);
    if (json) {
      std::printf("[");
      for (std::size_t i = 0; i < cameras.size(); ++i)
        std::printf("%s{\"name\": %s, \"port\": %s}", i ? ", " : "",
                    json_string(cameras[i].name).c_str(), json_string(cameras[i].port).c_str());
      std::printf("]\n");
    } else {
      for (const ConnectedCamera& c : cameras)
        std::printf("%s\t%s\n", printable_text(c.name).c_str(), printable_text(c.port).c_str());
      if (cameras.empty()) std::fprintf(stderr, "No camera is connected.\n");
    }
    return 0;
  }
  std::string message;
  std::vector<CameraImage> images;
  if (!camera_images(*session, args[1], images, message)) {
    std::fprintf(stderr, "%s\n", printable_text(message).c_str());
    return 1;
  }
  for (const CameraImage& image : images) {
    // The camera names its own files: shown with their control characters escaped.
    const std::string shown = printable_text(image.path);
    if (!image.known) {
      std::printf("%s\t?\t?\n", shown.c_str());
      continue;
    }
    char when[32] = "?";
    std::tm local{};
    if (localtime_r(&image.modified, &local)) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
    std::printf("%s\t%llu\t%s\n", shown.c_str(), static_cast<unsigned long long>(image.size), when);
  }
  return 0;
}

}  // namespace

const CommandSpec& camera_command() {
  static const CommandSpec spec{
      "camera",
      "list connected cameras and the images they hold",
      {"list [--json]", "files NAME"},
      "Ingest a camera with 'cardwright ingest --card \"ptp/NAME\"'.",
      {
          {"list", "", "the connected cameras by name"},
          {"files", "NAME", "the images of camera NAME (those below a DCIM folder) with their\n"
                            "sizes and times"},
      },
      {{"json", nullptr, "print the cameras as JSON", false, nullptr, "list"}},
      {},
      nullptr,
      run_camera,
  };
  return spec;
}

}  // namespace cw::app
