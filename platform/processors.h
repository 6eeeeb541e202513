// The processors a thread may run on: which they are, which of them serve the devices'
// interrupts, and confining a thread to some of them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string_view>
#include <vector>

namespace cw {

// The processors the calling thread may run on, in ascending order; empty when the system
// does not say.
std::vector<int> allowed_processors();

// Lets the thread `thread` of this process (0: the calling thread) run on `processors` only.
// False when the system refuses (no such thread, none of the processors allowed).
bool confine_thread(pid_t thread, const std::vector<int>& processors);

// The calling thread's id, as confine_thread takes it.
pid_t current_thread_id();

// The device interrupts each processor has served, indexed by processor number, from a text
// laid out as /proc/interrupts is: a heading naming the processor columns ("CPU0 CPU1 ..."),
// then a row per interrupt. Only the numbered rows count (the devices'); the system's own
// per-processor interrupts (timer, rescheduling, ...) do not. Empty when the heading names no
// processor.
std::vector<std::uint64_t> device_interrupts_per_processor(std::string_view text);
// The same for this system now; empty when it cannot be read.
std::vector<std::uint64_t> device_interrupts_per_processor();

}  // namespace cw
