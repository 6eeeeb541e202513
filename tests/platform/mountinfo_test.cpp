// The mount table: parsing and the drive list made from it.
#include "platform/mountinfo.h"

#include <gtest/gtest.h>

namespace cw {
namespace {

TEST(Mountinfo, ParsesEscapedFieldsAndKeepsVisibleDriveMounts) {
  const std::string text =
      "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
      "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
      "51 27 8:17 / /media/ann/EOS\\040DIGITAL rw,nosuid shared:5 master:1 - vfat /dev/sdb1 rw\n"
      "52 27 0:41 / /mnt/tab\\011and\\134back rw - fuse.sshfs me@host:/photos\\040x rw\n"
      "this line is not a mount\n"
      "53 27 0:42 / /mnt/over rw - ext4 /dev/sdc1 rw\n"
      "54 27 0:43 / /media/auto rw - autofs systemd-1 rw\n"
      "55 53 8:33 / /mnt/over rw - ext4 /dev/sdd1 rw\n"
      "56 54 8:49 / /media/auto rw - vfat /dev/sde1 rw\n"
      "57 27 0:44 / /net rw - autofs auto.net rw\n";
  std::vector<MountEntry> table = parse_mountinfo(text);
  ASSERT_EQ(table.size(), 9u);
  const MountEntry& card = table[2];
  EXPECT_EQ(card.fs_type + " " + std::to_string(card.major) + ":" + std::to_string(card.minor),
            "vfat 8:17");
  EXPECT_EQ(unescape_mount_field("a\\04"), "a\\04");

  std::vector<std::string> roots;
  for (const MountEntry& e : drive_mounts(table)) roots.push_back(e.mount_point + "=" + e.source);
  EXPECT_EQ(roots, (std::vector<std::string>{"/=/dev/vda", "/media/ann/EOS DIGITAL=/dev/sdb1",
                                             "/mnt/tab\tand\\back=me@host:/photos x",
                                             "/mnt/over=/dev/sdd1", "/media/auto=/dev/sde1"}));
}

}  // namespace
}  // namespace cw
