#include "platform/processors.h"

#include <gtest/gtest.h>

namespace cw {
namespace {

TEST(Processors, DeviceInterruptsCountNumberedRowsPerProcessorColumn) {
  // Columns need not be every processor (CPU2 is offline), rows may list fewer counts than
  // columns, and the system's own rows (timer ticks, rescheduling) are no device's.
  const char* text =
      "           CPU0       CPU1       CPU3       \n"
      "  0:         39          0          1   IO-APIC   2-edge      timer\n"
      " 36:          5   45362424          0   PCI-MSIX-0000:00:02.0   1-edge      virtio1-req.0\n"
      " 40:          7\n"
      "NMI:          3          4          5   Non-maskable interrupts\n"
      "LOC:    9000000    8000000    7000000   Local timer interrupts\n"
      "ERR:          0\n";
  EXPECT_EQ(device_interrupts_per_processor(text),
            (std::vector<std::uint64_t>{51, 45362424, 0, 1}));
  EXPECT_TRUE(device_interrupts_per_processor("no heading here\n 1: 5 6\n").empty());
  EXPECT_TRUE(device_interrupts_per_processor("").empty());
  // The system's own table, where it can be read, has a column for each processor this
  // thread may use.
  const std::vector<std::uint64_t> here = device_interrupts_per_processor();
  if (!here.empty()) {
    for (const int cpu : allowed_processors())
      EXPECT_LT(static_cast<std::size_t>(cpu), here.size()) << "processor " << cpu;
  }
}

}  // namespace
}  // namespace cw
