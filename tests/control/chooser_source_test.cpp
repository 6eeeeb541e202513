// The image chooser never opens on a camera on its cable: Start takes its images whole.
#include <gtest/gtest.h>

#include "control/app_session.h"
#include "control/image_choice.h"
#include "platform/fake_drive_source.h"
#include "settings/param.h"
#include "tests/common/test_env.h"

namespace cw {
namespace {

using test::captured_ui;

struct OneCamera : NoCameraSource {
  std::vector<std::pair<std::string, std::string>> devices() override {
    return {{"usb:001,004", "Z 8"}};
  }
};

TEST(ChooserSource, ACameraPickedIsRefusedWithTheReason) {
  captured_ui().clear();
  SessionServices services;
  services.drives = [] { return std::make_unique<FakeDriveSource>(); };
  services.cameras = std::make_unique<OneCamera>();
  AppSession session(captured_ui(), kSessionIngest, std::move(services));
  ASSERT_TRUE(session.ok());

  session.settings().master().put_str("CardFolder", "[user choice]");
  captured_ui().list_answers = {0};  // "Device: Z 8"
  EXPECT_EQ(chooser_folder(session), "");
  ASSERT_EQ(captured_ui().alerts.size(), 1u);
  EXPECT_EQ(captured_ui().alerts[0], kCameraNotChosenMessage);
  captured_ui().clear();
}

}  // namespace
}  // namespace cw
