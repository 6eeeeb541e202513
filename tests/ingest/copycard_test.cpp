// The ingestion driver: parameter checks, the report, stop requests, re-runs and backups.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "tests/fixtures/jpeg_maker.h"
#include "tests/fixtures/sample_files.h"
#include "tests/ingest/ingest_harness.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using test::Harness;
using fixtures::mtime_of;
using test::read_file;
using test::contains;
using test::write_file;

const char* const kEmptySummary =
    "\nCopying:\n"
    "    Files skipped because of extension: 0\n"
    "    Files skipped because of duplication: 0\n"
    "    Files already in the archive: 0\n"
    "    Raws converted to DNGs: 0\n"
    "    Files copied without conversion: 0\n"
    "    JPEGs extracted: 0\n"
    "\nVerification:\n"
    "    Raws verified: 0\n"
    "    JPEGs verified: 0\n"
    "    Files copied without error but not checked by decoding: 0\n"
    "    Copies read back and matched by checksum: 0\n"
    "\nSUCCESSFUL INGESTION - no errors detected\n";

TEST(Copycard, ParameterChecks) {
  Harness h;
  EXPECT_FALSE(h.run(30));
  EXPECT_EQ(h.ctx->error, "arg count");
  EXPECT_TRUE(contains(h.ctx->report, std::string("\n------ Test card ------\n") + kCopycardUsage));
  EXPECT_FALSE(fsys::exists(h.archive));  // nothing created before the checks pass

  // The same folder, however its path is written.
  h.set(kParamWantBackup, "1");
  h.set(kParamBackupFolder, h.archive + "/./");
  EXPECT_FALSE(h.run());
  EXPECT_EQ(h.ctx->error, "Backup and primary folders must be different");
  EXPECT_TRUE(contains(h.ctx->report, "\nERROR: Backup and primary folders must be different.\n"));

  // Folders that differ in letter case are different folders.
  h.set(kParamBackupFolder, h.dir / "ARCHIVE");
  EXPECT_TRUE(h.run()) << h.ctx->error;
  EXPECT_TRUE(fsys::is_directory(h.dir / "ARCHIVE"));

  // The post-conversion backup may not be the primary tree either.
  h.set(kParamWantBackupPost, "1");
  h.set(kParamBackupFolderPost, h.archive);
  EXPECT_FALSE(h.run());
  EXPECT_EQ(h.ctx->error, "Backup and primary folders must be different");

  // A tree inside the card is refused before anything is made there.
  h.set(kParamWantBackup, "0");
  h.set(kParamWantBackupPost, "0");
  h.set(kParamPrimaryFolder, h.card + "/../card/Archive");
  EXPECT_FALSE(h.run());
  EXPECT_EQ(h.ctx->error,
            "Destination folder is inside the card: \"" + h.card + "/../card/Archive\"");
  EXPECT_FALSE(fsys::exists(h.card + "/Archive"));
}

// Trees inside one another, either way round or through a link, are refused before any copy.
TEST(Copycard, NestedTreesAreRefusedNamingBothFolders) {
  Harness h;
  write_file(h.card + "/IMG_0001.JPG", "x");
  const std::string outer = h.dir / "outer", in_outer = h.dir / "outer/in",
                    post = h.dir / "outer/post", b = h.dir / "b", apart = h.dir / "apart",
                    through_link = h.dir / "link/p";
  fsys::create_directories(post);
  fsys::create_directories(b);
  fsys::create_symlink(outer, h.dir / "link");
  struct Case {
    std::string backup, primary, post, inner, outer;
  };
  const Case cases[] = {
      {outer, in_outer, "", "primary folder \"" + in_outer, "backup folder \"" + outer},
      {post, outer, "", "backup folder \"" + post, "primary folder \"" + outer},
      {b, outer, post, "post-conversion backup folder \"" + post, "primary folder \"" + outer},
      {b, post, outer, "primary folder \"" + post, "post-conversion backup folder \"" + outer},
      {outer, apart, post, "post-conversion backup folder \"" + post, "backup folder \"" + outer},
      {outer, through_link, "", "primary folder \"" + through_link, "backup folder \"" + outer},
  };
  for (const Case& c : cases) {
    h.set(kParamPrimaryFolder, c.primary);
    h.set(kParamWantBackup, "1");
    h.set(kParamBackupFolder, c.backup);
    h.set(kParamWantBackupPost, c.post.empty() ? "0" : "1");
    h.set(kParamBackupFolderPost, c.post);
    EXPECT_FALSE(h.run()) << c.primary;
    EXPECT_TRUE(contains(h.ctx->report,
                         "ERROR: The " + c.inner + "\" is inside the " + c.outer + "\"\n"))
        << h.ctx->report;
    EXPECT_EQ(test::images_below(outer) + test::images_below(b) + test::images_below(apart), 0u)
        << c.primary;
  }
}

// A partition size of zero or less means one range folder; camera file numbers keep four digits.
TEST(Copycard, PartitionSizeZeroOrNegativeMeansNoPartitions) {
  using Folders = std::map<std::string, int>;
  auto folders = [](const char* size, const char* source, const char* digits) {
    Harness h;
    h.write_small_card(3);
    h.params.values[kParamFolderFormat] = "{@numberrange}";
    h.set(kParamPartitionSize, size);
    h.set(kParamNumberRangeSource, source);
    h.set(kParamNumberRangeDigits, digits);
    EXPECT_TRUE(h.run()) << h.ctx->error;
    Folders images;
    for (const auto& [path, bytes] : test::files_below(h.archive))
      if (path.ends_with(".JPG")) ++images[fsys::path(path).parent_path()];
    return images;
  };
  const Folders one{{"#NNN-0000", 3}};
  EXPECT_EQ(folders("0", "2", "4"), one);
  EXPECT_EQ(folders("-5", "2", "4"), one);
  EXPECT_EQ(folders("2", "2", "4"), (Folders{{"#NNN-0000", 2}, {"#NNN-0001", 1}}));
  EXPECT_EQ(folders("0", "2", "6"), (Folders{{"#NNNNN-000000", 3}}));
  EXPECT_EQ(folders("0", "1", "6"), one);
}

TEST(Copycard, EmptyCardSucceedsWithEveryCounterZero) {
  Harness h;
  ASSERT_TRUE(h.run()) << h.ctx->error;
  const std::string& report = h.ctx->report;
  EXPECT_TRUE(contains(report, "0 files copied from card took 0 min."));
  EXPECT_TRUE(contains(report, "\nGPS Tagging:\n\tDisabled (choose Tools > GPS Input..., or "
                               "give --gps-track, to enable)\n\n"));
  ASSERT_GE(report.size(), std::strlen(kEmptySummary));
  EXPECT_EQ(report.substr(report.size() - std::strlen(kEmptySummary)), kEmptySummary);
  EXPECT_EQ(h.control.status(), "Successful ingestion (0 images)");
  EXPECT_TRUE(h.ctx->error.empty());
  EXPECT_TRUE(fsys::is_directory(h.archive));
}

TEST(Copycard, CopiesKeepTimeAndSizeAndReRunsAreDuplicates) {
  Harness h;
  write_file(h.card + "/DCIM/100/IMG_0001.JPG",
             fixtures::make_jpeg("2024:05:17 10:20:30", 3 * 1048576 + 17));
  write_file(h.card + "/DCIM/100/IMG_0002.CR2", fixtures::make_tiff_raw("2024:05:17 10:20:31", 4096));
  write_file(h.card + "/DCIM/101/EMPTY.JPG", "");
  for (const char* f : {"DCIM/100/IMG_0001.JPG", "DCIM/100/IMG_0002.CR2", "DCIM/101/EMPTY.JPG"})
    fsys::last_write_time(h.card + "/" + f, fsys::file_time_type::clock::now() - std::chrono::hours(50));
  ASSERT_TRUE(h.run()) << h.ctx->error;
  for (const char* f : {"IMG_0001.JPG", "IMG_0002.CR2", "EMPTY.JPG"}) {
    std::string src = h.card + (f[0] == 'E' ? "/DCIM/101/" : "/DCIM/100/") + f;
    EXPECT_EQ(read_file(h.archive + "/" + f), read_file(src)) << f;
    EXPECT_EQ(mtime_of(h.archive + "/" + f), mtime_of(src)) << f;
  }
  EXPECT_EQ(h.ctx->counts.files_found, 3);
  EXPECT_EQ(h.ctx->counts.first_copies, 3);
  EXPECT_EQ(h.control.image_count(), 3);
  EXPECT_EQ(*h.ctx->destination_folder, h.archive);
  EXPECT_EQ(h.control.burn_folders(BurnList::kPrimary), std::vector<std::string>{h.archive});

  // Recognised again by their content, the empty one too: as archived, not also as duplicates.
  ASSERT_TRUE(h.run()) << h.ctx->error;
  EXPECT_TRUE(contains(h.ctx->report, "    Files skipped because of duplication: 0\n"
                                      "    Files already in the archive: 3\n"));
}

TEST(Copycard, ADifferentFileOfTheSameNameGetsASuffixAndIsNeverReplaced) {
  // The suffix rules themselves are the unique-target tests'; here the run uses them.
  Harness h;
  write_file(h.card + "/100/IMG_0001.JPG", "first image");
  write_file(h.card + "/101/IMG_0001.JPG", "second, other image");
  ASSERT_TRUE(h.run()) << h.ctx->error;
  EXPECT_EQ(read_file(h.archive + "/IMG_0001.JPG"), "first image");
  EXPECT_EQ(read_file(h.archive + "/IMG_0001_00001.JPG"), "second, other image");
  EXPECT_EQ(h.ctx->images[1].new_base_name, "IMG_0001_00001");  // the record follows the copy
}

// Stops the run once it asks for the order gate (which the test holds): it waits for its turn.
struct StopAtTheGate : SingleSlotControl {
  std::atomic<bool> reached{false};  // other threads of the run may ask for the stop
  OrderGate& order_gate() override {
    reached = true;
    return SingleSlotControl::order_gate();
  }
  bool stop_requested(int slot) override {
    return reached || SingleSlotControl::stop_requested(slot);
  }
};

// Stopped while it waited for its turn: the run ends "Stopped", red, with nothing copied.
TEST(Copycard, StopRequestEndsTheRunWithStopped) {
  Harness h;
  write_file(h.card + "/IMG_0001.JPG", "x");
  StopAtTheGate at_gate;
  std::optional<OrderGate::Ticket> held = at_gate.SlotBook::order_gate().try_enter(-1, 0);
  ASSERT_TRUE(held);
  h.reports_to = &at_gate;
  EXPECT_FALSE(h.run());
  EXPECT_TRUE(at_gate.reached);
  EXPECT_EQ(h.ctx->error, "Stopped");
  EXPECT_TRUE(at_gate.error_flag());
  EXPECT_FALSE(fsys::exists(h.archive + "/IMG_0001.JPG"));
}

// The images are named on a thread of their own ahead of the copying: an image is copied only
// once its naming has begun (its sequence number taken), and the next card's run may name once
// this one has named its last image, before that image is copied.
TEST(Copycard, CopiesFollowNamingAndTheGateOpensOnceNamingEnds) {
  static constexpr int kImages = 8;
  struct Watcher : SingleSlotControl {
    std::atomic<int> named{0}, copied_before_named{0};
    std::atomic<bool> gate_open_at_last_copy{false};
    long take_sequence_number() override {
      ++named;
      return SingleSlotControl::take_sequence_number();
    }
    void set_status(int slot, const std::string& text) override {
      if (text.starts_with("1st copy: ")) {
        const int image = std::atoi(text.c_str() + text.rfind("(image ") + 7);
        if (image > named) ++copied_before_named;
        if (image == kImages) gate_open_at_last_copy = order_gate().try_enter(-1, 0).has_value();
      }
      SingleSlotControl::set_status(slot, text);
    }
  } watcher;
  Harness h;
  h.reports_to = &watcher;
  h.write_small_card(kImages);
  ASSERT_TRUE(h.run()) << h.ctx->error;
  EXPECT_EQ(watcher.copied_before_named, 0);
  EXPECT_TRUE(watcher.gate_open_at_last_copy);
}

TEST(Copycard, BackupRunCopiesIntoBackupThenPrimaryThenPostBackup) {
  Harness h;
  write_file(h.card + "/IMG_0001.JPG", "jpeg");
  write_file(h.card + "/IMG_0002.NEF", "raw");
  h.with_backup(true);
  ASSERT_TRUE(h.run()) << h.ctx->error;
  for (const char* tree : {"backup", "archive", "post"}) {
    EXPECT_EQ(read_file(h.dir.path() / tree / "IMG_0001.JPG"), "jpeg") << tree;
    EXPECT_EQ(read_file(h.dir.path() / tree / "IMG_0002.NEF"), "raw") << tree;
  }
  EXPECT_EQ(h.ctx->counts.copied_without_conversion, 2);
  EXPECT_TRUE(contains(h.ctx->report, "Skipping Adobe DNG Converter\n"));
  EXPECT_EQ(*h.ctx->destination_folder, h.archive);
  EXPECT_EQ(h.control.burn_folders(BurnList::kPreConversion),
            std::vector<std::string>{h.backup});

  // The second copy never overwrites: a file already at its name in the primary tree stops it.
  write_file(h.card + "/IMG_0003.JPG", "new");
  write_file(h.archive + "/IMG_0003.JPG", "someone else's");
  EXPECT_FALSE(h.run());
  EXPECT_EQ(h.ctx->error, "will not overwrite file: \"" + h.archive + "/IMG_0003.JPG\"");
  EXPECT_EQ(read_file(h.archive + "/IMG_0003.JPG"), "someone else's");
}

TEST(Copycard, SequenceNumbersComeFromTheSlotAndAdvance) {
  Harness h;
  write_file(h.card + "/b.jpg", "b");
  write_file(h.card + "/a.jpg", "a");
  SingleSlotControl control(500);
  h.ctx = std::make_unique<EngineContext>(EngineJob{&control, 0, "seq"});
  ASSERT_TRUE(copycard(h.params, kParamCount, h.card, *h.ctx)) << h.ctx->error;
  EXPECT_EQ(h.ctx->images[0].number_text, "000500");
  EXPECT_EQ(h.ctx->images[1].number_text, "000501");
  EXPECT_EQ(control.take_sequence_number(), 502);
}

// The slot's status lines, each ending in "\n", as the run set them.
struct StatusRecorder : SingleSlotControl {
  std::mutex mutex;
  std::string lines;
  void set_status(int slot, const std::string& text) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      lines += text + "\n";
    }
    SingleSlotControl::set_status(slot, text);
  }
  std::string take() {
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(lines, {});
  }
};

// The monitor's line says only what is done to an image: copied, found archived, XMP merged.
TEST(Copycard, StatusLinesSayOnlyWhatIsDone) {
  StatusRecorder status;
  Harness h;
  h.reports_to = &status;
  write_file(h.card + "/IMG_0001.JPG", fixtures::make_jpeg("2024:05:17 10:20:30", 5000));
  write_file(h.dir / "title.xmp", fixtures::sample_xmp_packet("merged"));
  const std::string copy = "1st copy: IMG_0001.JPG (image 1)";
  const std::string merge = "Writing XMP to JPEG: IMG_0001.JPG (image 1)";

  // Merging switched off, a sidecar made: copied, nothing merged.
  h.set(kParamWantXMPtoJPG, "0");
  h.set(kParamSidecarPath, h.dir / "title.xmp");
  ASSERT_TRUE(h.run()) << h.ctx->error;
  std::string shown = status.take();
  EXPECT_TRUE(contains(shown, copy)) << shown;
  EXPECT_FALSE(contains(shown, "Writing XMP")) << shown;

  // The same card again: nothing copied.
  ASSERT_TRUE(h.run()) << h.ctx->error;
  shown = status.take();
  EXPECT_FALSE(contains(shown, "1st copy")) << shown;
  EXPECT_TRUE(contains(shown, "Already in the archive: IMG_0001.JPG (image 1)")) << shown;

  // Merging on but no sidecar to merge, then with one.
  h.set(kParamWantXMPtoJPG, "1");
  h.set(kParamSidecarPath, "");
  h.params.values[kParamPrimaryFolder] = h.dir / "archive2";
  ASSERT_TRUE(h.run()) << h.ctx->error;
  EXPECT_FALSE(contains(status.take(), "Writing XMP"));
  h.set(kParamSidecarPath, h.dir / "title.xmp");
  h.params.values[kParamPrimaryFolder] = h.dir / "archive3";
  ASSERT_TRUE(h.run()) << h.ctx->error;
  EXPECT_TRUE(contains(status.take(), merge));
}

// A dry run ends with its totals: what it would copy, what is archived, what the filter leaves.
TEST(Copycard, DryRunEndsWithItsTotals) {
  Harness h;
  write_file(h.card + "/big.jpg", std::string(1500000, 'b'));
  write_file(h.card + "/new.jpg", std::string(1000000, 'n'));
  write_file(h.card + "/old.jpg", "archived");
  write_file(h.card + "/voice.mp3", "note");
  write_file(h.archive + "/old.jpg", "archived");
  // A copy in the archive keeps its source's time; a second may pass between the two writes.
  fsys::last_write_time(h.archive + "/old.jpg", fsys::last_write_time(h.card + "/old.jpg"));
  h.set(kParamIncludeExtensions, "1");
  h.set(kParamExtensions, "JPG");
  h.new_context(&h.control);
  h.ctx->dry_run = true;
  ASSERT_TRUE(copycard(h.params, kParamCount, h.card, *h.ctx)) << h.ctx->error;
  EXPECT_TRUE(contains(h.ctx->report, "\nDry run totals:\n"
                                      "    Files to copy: 2 (2.5 MB), into 1 tree\n"
                                      "    Files already in the archive: 1\n"
                                      "    Files skipped because of extension: 1\n"))
      << h.ctx->report;
  EXPECT_FALSE(fsys::exists(h.archive + "/new.jpg"));
}

}  // namespace
}  // namespace cw
