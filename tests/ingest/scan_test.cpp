// Card scan: the image list, its filter and records, picked files and camera sources.
#include <gtest/gtest.h>
#include <limits.h>

#include "ingest/format_verdict.h"
#include "ingest/scan.h"
#include "platform/camera_source.h"
#include "tests/ingest/ingest_harness.h"

namespace cw {
namespace {

using test::Harness;
using test::write_file;

TEST(Scan, FilesInCaseInsensitiveOrderThenSubfoldersDepthFirst) {
  Harness h;
  for (const char* f : {"B.JPG", "a.jpg", "sub/z.jpg", "sub/deeper/x.jpg", "Alpha/y.jpg", "c.JPG"})
    write_file(h.card + "/" + f, f);  // files of one content would be one image
  ASSERT_TRUE(h.run()) << h.ctx->error;
  EXPECT_EQ(h.listed(), (std::vector<std::string>{"a.jpg", "B.JPG", "c.JPG", "Alpha/y.jpg",
                                                  "sub/z.jpg", "sub/deeper/x.jpg"}));
  EXPECT_EQ(h.ctx->images[5].relative_folder(), "sub/deeper");
  EXPECT_EQ(h.ctx->images[5].index, 5);
  EXPECT_EQ(h.ctx->counts.files_found, 6);
}

TEST(Scan, ExtensionFilterInBothModesAndItsCounter) {
  Harness h;
  for (const char* f : {"IMG_1.JPG", "img_2.jpg", "IMG_3.CR2", "README", "IMG_1.XMP", "IMG.JP"})
    write_file(h.card + "/" + f, "x");
  // Include mode: listed extensions only, matched whole in any case (a preset may hold them in
  // lower case); sidecars are never taken nor counted. The verdict names the files left.
  h.set(kParamIncludeExtensions, "1");
  h.set(kParamExtensions, "jpg");
  ASSERT_TRUE(h.run());
  EXPECT_EQ(h.listed(), (std::vector<std::string>{"IMG_1.JPG", "img_2.jpg"}));
  EXPECT_NE(h.ctx->report.find("    Files skipped because of extension: 3\n"), std::string::npos);
  make_verdict(h.ctx->options(), h.ctx->state(), h.ctx->result(), true);
  EXPECT_EQ(h.ctx->verdict.line,
            "Card not yet safe to format: 3 files left on the card by the extension filter "
            "(IMG.JP, IMG_3.CR2, README)");
  // Skip mode: listed extensions are left out and counted.
  h.set(kParamIncludeExtensions, "0");
  std::filesystem::remove_all(h.archive);
  ASSERT_TRUE(h.run());
  EXPECT_EQ(h.listed(), (std::vector<std::string>{"IMG.JP", "IMG_3.CR2", "README"}));
  EXPECT_EQ(h.ctx->counts.skipped_by_extension, 2);
}

TEST(Scan, AMissingCardFails) {
  Harness h;
  EXPECT_FALSE(h.run(kParamCount, h.dir / "no-such-card"));
  EXPECT_EQ(h.ctx->error, "error opening path: \"" + h.dir / "no-such-card\"");
  EXPECT_TRUE(h.control.error_flag());
}

TEST(Scan, PickedFilesTakeEveryFileAndMustLieBelowTheRoot) {
  Harness h;
  write_file(h.card + "/DCIM/100/IMG_1.CR2", "r");
  write_file(h.card + "/DCIM/100/IMG_2.JPG", "j");
  h.set(kParamIncludeExtensions, "1");
  h.set(kParamExtensions, "NEF");  // not applied to picked files
  h.params.file_array = std::vector<std::string>{h.card + "/DCIM/100/IMG_2.JPG",
                                                 h.card + "/DCIM/100/IMG_1.CR2"};
  ASSERT_TRUE(h.run()) << h.ctx->error;
  EXPECT_EQ(h.listed(), (std::vector<std::string>{"DCIM/100/IMG_2.JPG", "DCIM/100/IMG_1.CR2"}));
  // Images of one folder share its one interned text.
  EXPECT_EQ(h.ctx->images[0].folder, h.ctx->images[1].folder);
  EXPECT_EQ(*h.ctx->images[0].folder, "DCIM/100");

  // Its text begins with the card's path, but the file is elsewhere.
  const std::string climbing = h.card + "/../elsewhere/IMG_9.JPG";
  write_file(h.dir / "elsewhere/IMG_9.JPG", "x");
  h.params.file_array->push_back(climbing);
  EXPECT_FALSE(h.run());
  EXPECT_EQ(h.ctx->error, "path outside root: \"" + climbing + "\"");
}

TEST(Scan, RecordFromPathLimits) {
  FolderTable folders;
  ImageRecord r;
  std::string message;
  ASSERT_TRUE(make_image_record(folders, r, "/card/", "/card/a/b.tar.gz", message));
  EXPECT_EQ(r.relative_folder(), "a");
  EXPECT_EQ(r.base_name, "b.tar");
  EXPECT_EQ(r.extension(), "gz");
  ASSERT_TRUE(make_image_record(folders, r, "ptp/Camera One", "ptp/IMG_1.JPG", message));
  EXPECT_EQ(r.relative_folder(), "");
  EXPECT_EQ(r.base_name, "IMG_1");
  // Only "/" separates.
  ASSERT_TRUE(make_image_record(folders, r, "/card", "/card/a\\b/c\\d.JPG", message));
  EXPECT_EQ(r.relative_folder(), "a\\b");
  EXPECT_EQ(r.base_name, "c\\d");
  EXPECT_EQ(r.source_path(), "/card/a\\b/c\\d.JPG");
  // The path comes back whole whatever the name, and when a link's file has a name of its own.
  for (const char* path : {"/card/b", "/card/a/b.", "/card/a/.b", "/card/a/b..c", "/card/."}) {
    ASSERT_TRUE(make_image_record(folders, r, "/card", path, message));
    EXPECT_EQ(r.source_path(), path);
    r.new_base_name = r.base_name;  // a first copy's path is kept in the same way
    r.set_first_copy(folders, path);
    EXPECT_EQ(r.first_copy_path(), path);
  }
  r.set_source(folders, "/real/IMG_2.JPG");
  EXPECT_EQ(r.source_path(), "/real/IMG_2.JPG");
  std::string deep = "/card/" + std::string(PATH_MAX, 'd') + "/x.jpg";
  EXPECT_FALSE(make_image_record(folders, r, "/card", deep, message));
  EXPECT_EQ(message, "path too long");
  // What an archive whose file system holds names of 255 bytes at most cannot take.
  EXPECT_EQ(too_long_for_archive(std::string(255, 'n'), 300, 255), nullptr);
  EXPECT_STREQ(too_long_for_archive(std::string(256, 'n'), 300, 255),
               "file whose name is too long for the archive");
  EXPECT_STREQ(too_long_for_archive("x.JPG", PATH_MAX, 255), "file whose path is too long");
}

// A camera with two images and no files on disk.
class TwoImageCamera : public NoCameraSource {
 public:
  std::string asked;
  bool images_for_device(const std::string& name, std::vector<std::string>& images,
                         std::string&) override {
    asked = name;
    images = {"ptp/IMG_0002.JPG", "ptp/IMG_0001.CR2"};
    return true;
  }
};

TEST(Scan, CameraPathsListTheDeviceImagesUnfiltered) {
  TwoImageCamera camera;
  Harness h;
  h.ctx = std::make_unique<EngineContext>(EngineJob{&h.control, 0, "cam"});
  h.ctx->card_folder = "Device: Camera One";
  h.ctx->scan_root = "ptp";
  h.ctx->include = true;
  h.ctx->extension_list = " NEF ";
  const auto scan = [&h](const std::string& root, CameraSource* cameras) {
    return scanDir(h.ctx->options(), h.ctx->state(), h.ctx->counts, *h.ctx, root, 0, cameras);
  };
  EXPECT_TRUE(scan("ptp", &camera));
  EXPECT_EQ(camera.asked, "Camera One");
  ASSERT_EQ(h.ctx->images.size(), 2u);
  EXPECT_EQ(h.ctx->images[0].source_path(), "ptp/IMG_0002.JPG");

  h.ctx->card_folder = "ptp";
  EXPECT_TRUE(scan("ptp/Camera Two", &camera));
  EXPECT_EQ(camera.asked, "Camera Two");
  // A camera that is gone, or none given, ends the run instead of passing for an empty card.
  NoCameraSource gone;
  EXPECT_FALSE(scan("ptp/Camera Two", &gone));
  EXPECT_EQ(h.ctx->error, "No camera named Camera Two is connected.");
  h.ctx->error.clear();
  EXPECT_FALSE(scan("ptp/Camera Two", nullptr));
  EXPECT_EQ(h.ctx->error, "No camera named Camera Two is connected.");
}

}  // namespace
}  // namespace cw
