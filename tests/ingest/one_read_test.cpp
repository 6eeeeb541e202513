// A small image is read from the card once, and that one read gives the copy its bytes and the
// read-back its hash. A card whose file changes while the copy is made (a failing card, a
// camera still writing) leaves a copy of exactly what was read, proven against it; a file that
// grows meanwhile is caught by the size check and leaves nothing under its name.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "foundation/sysio.h"
#include "tests/ingest/ingest_harness.h"

namespace cw {
namespace {

using test::fd_path;
using test::Harness;
using test::read_file;
using test::write_file;

std::string g_card_image;  // the card file to change
std::string g_changed;     // what it holds once its bytes were taken (empty: left alone)

// Called after bytes were taken from `fd`: the card file gets its new content once.
void change_card_file(int fd, ssize_t taken) {
  if (taken <= 0 || g_changed.empty() || fd_path(fd) != g_card_image) return;
  write_file(g_card_image, g_changed);
  g_changed.clear();
}

ssize_t read_then_change(int fd, void* buf, std::size_t n) {
  const ssize_t got = system_sysio().read(fd, buf, n);
  change_card_file(fd, got);
  return got;
}

// The kernel moves the bytes, then the card changes before they could be hashed apart from
// the copy.
ssize_t copy_then_change(int in, int out, std::size_t n) {
  const ssize_t got = system_sysio().copy_range(in, out, n);
  change_card_file(in, got);
  return got;
}

TEST(OneReadOfTheSource, CopyAndProofAreOfTheBytesReadEvenWhenTheCardChanges) {
  const std::string original(50000, 'a');
  {  // Same size, other bytes: the copy holds what was read and its read-back matches.
    Harness h;
    g_card_image = std::filesystem::weakly_canonical(h.card + "/IMG_0001.JPG").string();
    write_file(g_card_image, original);
    g_changed = std::string(original.size(), 'b');
    Sysio table = system_sysio();
    if (table.copy_range) table.copy_range = copy_then_change;
    ScopedSysio faults(table);
    ASSERT_TRUE(h.run()) << h.ctx->error;
    EXPECT_EQ(read_file(h.archive + "/IMG_0001.JPG"), original);
    EXPECT_EQ(h.ctx->counts.files_verified, 1);
    EXPECT_EQ(h.ctx->counts.images_failed, 0);
  }
  {  // Grown after the read: the copy is not the size the card listed, and is not kept.
    Harness h;
    g_card_image = std::filesystem::weakly_canonical(h.card + "/IMG_0001.JPG").string();
    write_file(g_card_image, original);
    g_changed = original + "more";
    Sysio table = system_sysio();
    table.read = read_then_change;
    ScopedSysio faults(table);
    EXPECT_FALSE(h.run());
    EXPECT_TRUE(g_changed.empty());  // the card did change under the copy
    EXPECT_EQ(h.ctx->error, "initial copy size error: \"" + h.card + "/IMG_0001.JPG\"");
    EXPECT_FALSE(std::filesystem::exists(h.archive + "/IMG_0001.JPG"));
  }
  g_changed.clear();
}

}  // namespace
}  // namespace cw
