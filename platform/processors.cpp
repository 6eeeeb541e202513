// Processors through the scheduler's affinity calls and the kernel's interrupt table.
#include "platform/processors.h"

#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <fstream>
#include <sstream>

namespace cw {

std::vector<int> allowed_processors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  std::vector<int> out;
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return out;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
    if (CPU_ISSET(cpu, &set)) out.push_back(cpu);
  return out;
}

bool confine_thread(pid_t thread, const std::vector<int>& processors) {
  cpu_set_t set;
  CPU_ZERO(&set);
  for (const int cpu : processors)
    if (cpu >= 0 && cpu < CPU_SETSIZE) CPU_SET(cpu, &set);
  return CPU_COUNT(&set) > 0 && ::sched_setaffinity(thread, sizeof set, &set) == 0;
}

pid_t current_thread_id() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

std::vector<std::uint64_t> device_interrupts_per_processor(std::string_view text) {
  const std::size_t end = text.find('\n');
  std::vector<int> columns;  // the processor number of each count column
  {
    std::istringstream heading(std::string(text.substr(0, end)));
    std::string word;
    while (heading >> word) {
      int cpu = -1;
      const char* digits = word.data() + 3;
      const char* last = word.data() + word.size();
      if (word.size() > 3 && word.compare(0, 3, "CPU") == 0 &&
          std::from_chars(digits, last, cpu).ptr == last && cpu >= 0 && cpu < CPU_SETSIZE)
        columns.push_back(cpu);
    }
  }
  std::vector<std::uint64_t> counts;
  for (const int cpu : columns)
    if (static_cast<std::size_t>(cpu) >= counts.size()) counts.resize(cpu + 1, 0);
  if (columns.empty() || end == std::string_view::npos) return counts;
  std::istringstream rows(std::string(text.substr(end + 1)));
  std::string row;
  while (std::getline(rows, row)) {
    std::istringstream in(row);
    std::string label;
    // A device's row is labelled with its interrupt number ("36:").
    if (!(in >> label) || label.size() < 2 || label.back() != ':' ||
        !std::isdigit(static_cast<unsigned char>(label.front())))
      continue;
    for (const int cpu : columns) {
      std::uint64_t n;
      if (!(in >> n)) break;
      counts[static_cast<std::size_t>(cpu)] += n;
    }
  }
  return counts;
}

std::vector<std::uint64_t> device_interrupts_per_processor() {
  std::ifstream in("/proc/interrupts", std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return device_interrupts_per_processor(text.str());
}

}  // namespace cw
