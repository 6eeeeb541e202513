// The program's camera source's factory and the camera check before an ingestion.
#include "device/camera_card.h"

#include "device/gphoto_bus.h"
#include "device/ptp_source.h"

namespace cw {

std::unique_ptr<CameraSource> make_camera_source() {
  return std::make_unique<PtpSource>(std::make_unique<GphotoBus>());
}

std::optional<std::string> camera_card_name(const std::string& card) {
  if (card.rfind("Device: ", 0) == 0) return card.substr(8);
  if (card == "ptp") return std::string();
  if (card.rfind("ptp/", 0) == 0) return card.substr(4);
  return std::nullopt;
}

bool check_camera_card(CameraSource& cameras, const std::string& card, std::string& message) {
  std::optional<std::string> name = camera_card_name(card);
  return !name || cameras.open_device(*name, message);
}

}  // namespace cw
