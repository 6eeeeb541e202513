// The camera source over a camera made of strings, and folders served as cameras by
// libgphoto2's Directory Browse driver.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <utime.h>

#include <filesystem>
#include <map>

#include "device/camera_card.h"
#include "device/gphoto_bus.h"
#include "device/ptp_source.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/sample_card.h"
#include "tests/fixtures/sample_files.h"
#include "tests/ingest/ingest_harness.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using fixtures::mtime_of;
using test::captured_ui;
using test::Harness;
using test::read_file;
using ::testing::HasSubstr;

struct FakeCamera {
  std::map<std::string, std::vector<std::string>> folders, files;
  std::map<std::string, std::string> bytes;  // by folder + "/" + name
  bool partial = true, busy = false;
  std::string unlistable;                    // a folder whose listing fails
  std::vector<std::size_t> part_reads;       // sizes asked of read_part
  std::vector<std::uint64_t> fetches;        // limits asked of fetch
  long long fail_reads_after = -1;           // read_part calls that succeed before failures
  bool short_fetch = false;

  void add(const std::string& folder, const std::string& name, std::string data) {
    files[folder].push_back(name);
    bytes[folder + "/" + name] = std::move(data);
  }
};

class Fetched : public FetchedFile {
 public:
  explicit Fetched(std::string b) : bytes_(std::move(b)) {}
  std::uint64_t size() const override { return bytes_.size(); }
  long long read_at(std::uint64_t offset, void* buffer, std::size_t n) override {
    return static_cast<long long>(bytes_.copy(static_cast<char*>(buffer), n, offset));
  }

 private:
  std::string bytes_;
};

class FakeDevice : public CameraDevice {
 public:
  explicit FakeDevice(FakeCamera& c) : c_(c) {}
  bool list_folders(const std::string& f, std::vector<std::string>& names,
                    DeviceError& e) override {
    return listing(f, c_.folders, names, e);
  }
  bool list_files(const std::string& f, std::vector<std::string>& names, DeviceError& e) override {
    return listing(f, c_.files, names, e);
  }
  bool file_info(const std::string& f, const std::string& n, CameraFileInfo& info, bool& has_size,
                 DeviceError& e) override {
    auto it = c_.bytes.find(f + "/" + n);
    if (it == c_.bytes.end()) return gone(e);
    info.size = it->second.size();
    info.modified = 1700000000;
    has_size = true;
    return true;
  }
  long long read_part(const std::string& f, const std::string& n, std::uint64_t offset,
                      void* buffer, std::size_t size, DeviceError& e) override {
    c_.part_reads.push_back(size);
    if (!c_.partial) {
      e.set(DeviceError::Kind::kUnsupported, -6, "Unsupported operation");
      return -1;
    }
    if (c_.fail_reads_after >= 0 && c_.fail_reads_after-- == 0) {
      gone(e);
      return -1;
    }
    const std::string& b = c_.bytes.at(f + "/" + n);
    return static_cast<long long>(b.copy(static_cast<char*>(buffer), size, offset));
  }
  std::unique_ptr<FetchedFile> fetch(const std::string& f, const std::string& n, std::uint64_t,
                                     std::uint64_t limit, DeviceError& e) override {
    c_.fetches.push_back(limit);
    std::string b = c_.bytes.at(f + "/" + n).substr(0, limit);
    if (!c_.short_fetch) return std::make_unique<Fetched>(b);
    e.set(DeviceError::Kind::kOther, 0, "the camera gave 999 bytes of 1000");
    return nullptr;
  }

 private:
  bool listing(const std::string& f, std::map<std::string, std::vector<std::string>>& m,
               std::vector<std::string>& names, DeviceError& e) {
    if (f == c_.unlistable) return gone(e);
    names = m[f];
    return true;
  }
  static bool gone(DeviceError& e) {
    e.set(DeviceError::Kind::kOther, -108, "File not found");
    return false;
  }
  FakeCamera& c_;
};

// Two cameras on USB: a Canon (`one`) and a Nikon (`two`).
class FakeBus : public CameraBus {
 public:
  FakeBus(FakeCamera& one, FakeCamera& two)
      : cameras_{{"usb:001,004", &one}, {"usb:001,005", &two}} {}
  bool detect(std::vector<CameraPort>& ports, DeviceError&) override {
    ports = {{"Canon EOS R5", "usb:001,004", "usb:001,004"},
             {"Nikon Z 6", "usb:001,005", "usb:001,005"}};
    return true;
  }
  std::unique_ptr<CameraDevice> open(const CameraPort& port, DeviceError& e) override {
    ++opens;
    FakeCamera& c = *cameras_.at(port.port);
    if (c.busy) {
      e.set(DeviceError::Kind::kBusy, -53, "Could not claim the USB device");
      return nullptr;
    }
    return std::make_unique<FakeDevice>(c);
  }
  int opens = 0;

 private:
  std::map<std::string, FakeCamera*> cameras_;
};

std::string pattern(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed) >> 3);
  return s;
}

struct Rig {
  FakeCamera one, two;
  FakeBus* bus;
  std::unique_ptr<PtpSource> source;
  Rig() {
    auto b = std::make_unique<FakeBus>(one, two);
    bus = b.get();
    source = std::make_unique<PtpSource>(std::move(b));
    captured_ui().clear();
  }
};

TEST(PtpSource, WalkKeepsImagesBelowDcimInCameraOrderAndTheFirstOfTwoNames) {
  Rig r;
  r.one.folders = {{"/", {"store_1"}}, {"/store_1", {"MISC", "DCIM"}},
                   {"/store_1/DCIM", {"101B", "100A"}}, {"/store_1/MISC", {"DCIM"}}};
  r.one.add("/store_1", "ROOT.JPG", "r");
  r.one.add("/store_1/MISC", "OUT.JPG", "o");
  r.one.add("/store_1/MISC/DCIM", "INNER.JPG", "i");  // any depth counts
  r.one.add("/store_1/DCIM", "TOP.JPG", "t");
  r.one.add("/store_1/DCIM/101B", "IMG_0001.JPG", "first");
  r.one.add("/store_1/DCIM/101B", "IMG_0003.CR2", "raw");
  r.one.add("/store_1/DCIM/100A", "IMG_0001.JPG", "second one");
  std::vector<std::string> images;
  std::string message;
  ASSERT_TRUE(r.source->images_for_device("ptp/Canon EOS R5", images, message)) << message;
  EXPECT_EQ(images, (std::vector<std::string>{"ptp/INNER.JPG", "ptp/TOP.JPG", "ptp/IMG_0001.JPG",
                                              "ptp/IMG_0003.CR2"}));
  CameraFileInfo info;
  ASSERT_TRUE(r.source->stat("ptp/IMG_0001.JPG", info));
  EXPECT_EQ(info.size, 5u);
  EXPECT_EQ(info.modified, 1700000000);
  EXPECT_THAT(captured_ui().pane, HasSubstr("two images named IMG_0001.JPG; the one in "
                                            "/store_1/DCIM/101B is ingested, the one in "
                                            "/store_1/DCIM/100A is left out"));
  EXPECT_FALSE(r.source->stat("ptp/OUT.JPG", info));

  // A camera with nothing below DCIM has no images; a name shorter than five characters
  // finds no camera and gives none either.
  r.two.folders = {{"/", {"store"}}};
  r.two.add("/store", "IMG_0009.JPG", "x");
  ASSERT_TRUE(r.source->images_for_device("Nikon Z 6", images, message));
  EXPECT_TRUE(images.empty());
  const int opens = r.bus->opens;
  ASSERT_TRUE(r.source->images_for_device("Nik", images, message));
  EXPECT_TRUE(images.empty());
  EXPECT_EQ(r.bus->opens, opens);

  // A folder that cannot be listed fails the walk, naming the folder.
  r.two.unlistable = "/store";
  EXPECT_FALSE(r.source->images_for_device("Nikon Z 6", images, message));
  EXPECT_EQ(message, "Camera Nikon Z 6: folder /store cannot be listed (File not found).");
}

TEST(PtpSource, NamesAndOpeningFailures) {
  const std::string long_model = std::string(98, 'x') + "\xC3\xA9";  // é across the limit
  EXPECT_EQ(friendly_names({{"Directory Browse", "disk:/a", "/a"},
                            {"Canon EOS R5", "usb:001,004", "usb:001,004"},
                            {"Directory Browse", "disk:/b", "/b"},
                            {long_model, "usb:1", "usb:1"}}),
            (std::vector<std::string>{"Directory Browse (/a)", "Canon EOS R5",
                                      "Directory Browse (/b)", std::string(98, 'x')}));
  Rig r;
  std::string message;
  EXPECT_FALSE(r.source->open_device("ptp/Canon EOS R6", message));
  EXPECT_EQ(message, "No camera named Canon EOS R6 is connected.");
  r.one.busy = true;
  EXPECT_FALSE(r.source->open_device("Canon EOS R5", message));
  EXPECT_EQ(message,
            "Camera Canon EOS R5 is held by another program (Could not claim the USB device). "
            "The desktop's file manager (gvfs) claims cameras as they are plugged in: unmount "
            "the camera in the file manager, or run \"gio mount -s gphoto2\", then try again.");
  // A camera opened by the check is walked as it is; a later walk opens it again.
  EXPECT_TRUE(r.source->open_device("Nikon Z 6", message));
  std::vector<std::string> images;
  const int opens = r.bus->opens;
  EXPECT_TRUE(r.source->images_for_device("Nikon Z 6", images, message));
  EXPECT_EQ(r.bus->opens, opens);
  EXPECT_TRUE(r.source->images_for_device("Nikon Z 6", images, message));
  EXPECT_EQ(r.bus->opens, opens + 1);
}

// A camera file's name is its bytes: a backslash in it separates nothing, from the walk to
// the copy. A file the walk leaves out (a second one of a name) is named by the verdict.
TEST(PtpSource, CameraFileNamesAreBytesAndAFileLeftOutIsNamed) {
  Rig r;
  r.one.folders = {{"/", {"DCIM"}}, {"/DCIM", {"100", "101"}}};
  r.one.add("/DCIM/100", "a\\b.JPG", "a backslash in the name");
  r.one.add("/DCIM/100", "b.JPG", "plain");
  r.one.add("/DCIM/101", "b.JPG", "the same name");
  test::Harness h;
  h.cameras = r.source.get();
  h.set(kParamCardFolder, "ptp");
  const bool ok = h.run_as_slot("ptp/Canon EOS R5");
  ASSERT_TRUE(ok) << h.ctx->error << h.ctx->report;
  ASSERT_EQ(h.ctx->images.size(), 2u);
  EXPECT_EQ(h.ctx->images[0].source_path(), "ptp/a\\b.JPG");
  EXPECT_EQ(h.ctx->images[0].relative_folder(), "");
  EXPECT_EQ(test::read_file(h.archive + "/a-b.JPG"), "a backslash in the name");
  EXPECT_EQ(test::read_file(h.archive + "/b.JPG"), "plain");
  EXPECT_TRUE(test::contains(
      h.ctx->report, "Skipped camera file with the name of another: \"/DCIM/101/b.JPG\"\n"));
  EXPECT_EQ(h.ctx->verdict.line,
            "Card not yet safe to format: 1 file skipped by the scan (/DCIM/101/b.JPG)");
}

// Reads a whole stream with reads of `chunk` bytes; -1 at the first error.
long long drain(CameraStream& s, std::size_t chunk, std::string& out) {
  std::string buffer(chunk, '\0');
  for (;;) {
    const long long got = s.read(buffer.data(), chunk);
    if (got <= 0) return got;
    out.append(buffer, 0, static_cast<std::size_t>(got));
  }
}

TEST(PtpStream, PartialReadsAreWindowedForSmallReadsAndDirectForLargeOnes) {
  Rig r;
  const std::string big = pattern(3 * 1048576 + 123, 7);
  r.one.folders = {{"/", {"DCIM"}}};
  r.one.add("/DCIM", "IMG_0001.CR2", big);
  r.one.add("/DCIM", "IMG_0002.JPG", pattern(600000, 9));
  std::vector<std::string> images;
  std::string message;
  ASSERT_TRUE(r.source->images_for_device("Canon EOS R5", images, message));

  std::unique_ptr<CameraStream> s = r.source->open("ptp/IMG_0001.CR2");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->size(), big.size());
  std::string copy;
  EXPECT_EQ(drain(*s, 1048576, copy), 0);
  EXPECT_EQ(copy, big);
  // The probe fills the window; the copy loop's reads then go to the camera directly.
  EXPECT_EQ(r.one.part_reads, (std::vector<std::size_t>{kReadAheadWindow, 1048576, 1048576,
                                                        1048576 - kReadAheadWindow + 123}));
  EXPECT_TRUE(r.one.fetches.empty());

  // The image reader's small reads come from the window.
  r.one.part_reads.clear();
  s = r.source->open("ptp/IMG_0002.JPG");
  copy.clear();
  EXPECT_EQ(drain(*s, 7, copy), 0);
  EXPECT_EQ(copy, r.one.bytes["/DCIM/IMG_0002.JPG"]);
  EXPECT_EQ(r.one.part_reads.size(), 3u);

  // A read that fails part way gives -1 from then on and names the file.
  r.one.fail_reads_after = 1;
  s = r.source->open("ptp/IMG_0001.CR2");
  copy.clear();
  EXPECT_EQ(drain(*s, 1048576, copy), -1);
  EXPECT_EQ(s->read(copy.data(), 1), -1);
  EXPECT_THAT(captured_ui().pane,
              HasSubstr("ERROR: reading IMG_0001.CR2 on the camera (folder /DCIM) "
                        "failed: File not found"));
}

TEST(PtpStream, ACameraWithoutPartialReadsHasFilesFetchedInOneTransfer) {
  Rig r;
  r.one.partial = false;
  r.one.folders = {{"/", {"DCIM"}}};
  const std::string big = pattern(300000, 1);
  r.one.add("/DCIM", "A_0001.JPG", big);
  std::vector<std::string> images;
  std::string message;
  ASSERT_TRUE(r.source->images_for_device("Canon EOS R5", images, message));
  // The copy loop's reads fetch the whole file; asked once, the answer holds for the camera.
  std::unique_ptr<CameraStream> s = r.source->open("ptp/A_0001.JPG");
  ASSERT_TRUE(s);
  std::string copy;
  EXPECT_EQ(drain(*s, 1048576, copy), 0);
  EXPECT_EQ(copy, big);
  EXPECT_EQ(r.one.fetches, std::vector<std::uint64_t>{big.size()});
  // The image reader's small reads fetch the first part only, and the rest when they go on.
  r.one.fetches.clear();
  s = r.source->open("ptp/A_0001.JPG");
  copy.assign(1000, '\0');
  EXPECT_EQ(s->read(copy.data(), 1000), 1000);
  EXPECT_EQ(copy, big.substr(0, 1000));
  EXPECT_EQ(r.one.fetches, std::vector<std::uint64_t>{kReadAheadWindow});
  EXPECT_EQ(drain(*s, 4096, copy), 0);
  EXPECT_EQ(copy, big);
  EXPECT_EQ(r.one.fetches, (std::vector<std::uint64_t>{kReadAheadWindow, big.size()}));
  EXPECT_EQ(r.one.part_reads.size(), 1u);
  // A failed fetch fails the read and names the file.
  r.one.short_fetch = true;
  s = r.source->open("ptp/A_0001.JPG");
  EXPECT_EQ(s->read(copy.data(), 10), -1);
  EXPECT_THAT(captured_ui().pane,
              HasSubstr("reading A_0001.JPG on the camera (folder /DCIM) failed: "
                        "the camera gave 999 bytes of 1000"));
}

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
