// Folders served as cameras by libgphoto2's Directory Browse driver.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <utime.h>

#include <filesystem>

#include "device/camera_card.h"
#include "device/gphoto_bus.h"
#include "metadata/macro_exif.h"
#include "tests/fixtures/sample_card.h"
#include "tests/fixtures/sample_files.h"
#include "tests/ingest/ingest_harness.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using test::captured_ui;
using ::testing::HasSubstr;
using test::Harness;
using fixtures::mtime_of;
using test::read_file;

// Serves `folders` as cameras through the program's camera source, for one test. The
// library loads its disk port driver alone: there is no USB camera here, and the USB driver
// leaks its device list each time it looks at a bus without devices, which the sanitizer build
// would report against these tests.
struct FolderCameras {
  test::TempDir port_drivers;
  std::unique_ptr<CameraSource> source;
  explicit FolderCameras(const std::string& folders) {
    fsys::create_symlink(std::string(CW_GPHOTO2_PORT_DRIVERS) + "/disk.so",
                         port_drivers / "disk.so");
    setenv("IOLIBS", port_drivers.str().c_str(), 1);
    setenv(kCameraFoldersVariable, folders.c_str(), 1);
    source = make_camera_source();
    captured_ui().clear();
  }
  ~FolderCameras() {
    unsetenv(kCameraFoldersVariable);
    setenv("IOLIBS", (test::test_root() / "no-port-drivers").c_str(), 1);
  }
};

TEST(DirectoryCamera, FoldersAreListedAsCameras) {
  test::TempDir dir;
  fsys::create_directories(dir / "a");
  fsys::create_directories(dir / "b");
  {
    FolderCameras cameras(dir / "a/" + ":" + dir / "missing");
    EXPECT_EQ(cameras.source->devices(),
              (std::vector<std::pair<std::string, std::string>>{
                  {"disk:" + dir / "a", "Directory Browse"}}));
  }
  FolderCameras cameras(dir / "a" + ":" + dir / "b");
  auto devices = cameras.source->devices();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[1].second, "Directory Browse (" + dir / "b" + ")");
  std::string message;
  EXPECT_TRUE(check_camera_card(*cameras.source, "ptp/" + devices[1].second, message)) << message;
  EXPECT_TRUE(check_camera_card(*cameras.source, dir / "b", message));  // a folder is no camera
  EXPECT_FALSE(check_camera_card(*cameras.source, "ptp/Directory Browse", message));
  EXPECT_EQ(message, "No camera named Directory Browse is connected.");
}

TEST(DirectoryCamera, AnIngestionCopiesEveryImageWithItsTimeAndItsExifName) {
  Harness h;
  fixtures::CardSpec spec;
  spec.count = 6;  // JPEGs and raws
  const std::vector<std::string> card = fixtures::write_sample_card(h.card, spec);
  ASSERT_EQ(card.size(), 6u);
  // File times apart from the capture times, so that names can only come from EXIF.
  for (std::size_t i = 0; i < card.size(); ++i) {
    const utimbuf t{1600000000, static_cast<time_t>(1600000000 + 60 * i)};
    ASSERT_EQ(utime(card[i].c_str(), &t), 0);
  }
  FolderCameras cameras(h.card);
  std::string message;
  ASSERT_TRUE(check_camera_card(*cameras.source, "ptp/Directory Browse", message)) << message;
  h.cameras = cameras.source.get();
  h.set(kParamCardFolder, "ptp");
  h.set(kParamNameFormat, "{@datetimeany}_{@filename}");
  ASSERT_TRUE(h.run(kParamCount, "ptp/Directory Browse")) << h.ctx->error << h.ctx->report;
  EXPECT_EQ(h.ctx->counts.files_found, 6);
  // Seven seconds apart from 2024:05:17 10:20:30, as the card's EXIF dates say.
  const char* const names[] = {"20240517_102030_IMG_0001.JPG", "20240517_102037_IMG_0002.JPG",
                               "20240517_102044_IMG_0003.CR2", "20240517_102051_IMG_0004.JPG",
                               "20240517_102058_IMG_0005.JPG", "20240517_102105_IMG_0006.CR2"};
  for (std::size_t i = 0; i < card.size(); ++i) {
    const std::string copy = h.archive + "/" + names[i];
    ASSERT_TRUE(fsys::exists(copy)) << copy;
    EXPECT_EQ(read_file(copy), read_file(card[i])) << copy;
    EXPECT_EQ(mtime_of(copy), mtime_of(card[i])) << copy;
  }
  // The same camera again: everything is a duplicate.
  ASSERT_TRUE(h.run(kParamCount, "ptp/Directory Browse")) << h.ctx->error;
  EXPECT_EQ(h.ctx->counts.duplicates, 6);
  EXPECT_EQ(h.ctx->counts.files_found, 0);
  EXPECT_EQ(std::distance(fsys::directory_iterator(h.archive), fsys::directory_iterator{}), 6);
}

TEST(DirectoryCamera, AFileThatVanishesAfterTheListingIsAnErrorNamingIt) {
  test::TempDir dir;
  const std::vector<std::string> card =
      fixtures::write_sample_card(dir.str(), fixtures::jpeg_card(2));
  ASSERT_EQ(card.size(), 2u);
  FolderCameras cameras(dir.str());
  std::vector<std::string> images;
  std::string message;
  ASSERT_TRUE(cameras.source->images_for_device("Directory Browse", images, message)) << message;
  ASSERT_EQ(images.size(), 2u);
  CameraFileInfo info;
  ASSERT_TRUE(cameras.source->stat("ptp/IMG_0002.JPG", info));
  fsys::remove(card[0]);
  fsys::remove(card[1]);
  EXPECT_FALSE(cameras.source->stat("ptp/IMG_0001.JPG", info));
  std::unique_ptr<CameraStream> stream = cameras.source->open("ptp/IMG_0002.JPG");
  ASSERT_TRUE(stream);  // the driver has no partial reads: the file is fetched at the first read
  char byte;
  EXPECT_EQ(stream->read(&byte, 1), -1);
  const std::string& pane = captured_ui().pane;
  EXPECT_THAT(pane,
              HasSubstr("ERROR: examining IMG_0001.JPG on the camera (folder /DCIM/100CWTST)"));
  EXPECT_THAT(pane, HasSubstr("ERROR: reading IMG_0002.JPG on the camera (folder /DCIM/100CWTST)"));
}

}  // namespace
}  // namespace cw
