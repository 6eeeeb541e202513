// Converter command lines and the restart after a named bad file.
#include "ingest/converter.h"

#include <strings.h>
#include <sys/stat.h>

#include <array>

#include "foundation/fs.h"
#include "foundation/log.h"
#include "foundation/runner.h"

namespace cw {

namespace {

// Extensions of the raw formats the converter reads.
constexpr std::array<const char*, 21> kRawExtensions = {
    "CR2", "CRW", "DCR", "KDC", "MOS", "MRW", "NEF", "NRW", "ORF", "PEF", "RAF",
    "RAW", "SRF", "X3F", "EEF", "TIF", "ARW", "SR2", "RW2", "IIQ", "CR3",
};

// Only the first characters of the extra options are taken, and at most four of them.
constexpr std::size_t kOptionTextMax = 199;
constexpr int kMaxExtraOptions = 4;

// Messages that name a file the converter could not handle; the run restarts after it.
constexpr std::array<const char*, 2> kBadFilePrefixes = {
    "Error while converting file: \"",
    "Not a supported raw file: \"",
};

// The file named by a restartable message, or nothing.
bool bad_file_named(const std::string& message, std::string& name) {
  for (const char* prefix : kBadFilePrefixes) {
    std::string_view p(prefix);
    if (message.compare(0, p.size(), p) != 0) continue;
    name = message.substr(p.size());
    while (!name.empty() && (name.back() == '"' || name.back() == '\n' || name.back() == '\r'))
      name.pop_back();
    return true;
  }
  return false;
}

// Compares over the name's length, "\" and "/" counted as equal.
bool names_file(const std::string& arg, const std::string& name) {
  if (arg.size() < name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (arg[i] == name[i] || (is_separator(arg[i]) && is_separator(name[i]))) continue;
    return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> converter_of(const RunOptions& options) {
  const std::optional<std::string>& path = options.converter_path;
  if (!path || path->empty() || *path == "none") return std::nullopt;
  return path;
}

bool is_convertible_raw(const RunOptions& options, const std::string& file) {
  std::size_t dot = file.rfind('.');
  if (dot == std::string::npos) return false;
  std::size_t sep = file.find_last_of("/\\");
  if (sep != std::string::npos && sep > dot) return false;
  const char* ext = file.c_str() + dot + 1;
  if (strcasecmp(ext, "DNG") == 0) return options.convert_dngs;
  for (const char* raw : kRawExtensions)
    if (strcasecmp(ext, raw) == 0) return true;
  return false;
}

std::vector<std::string> converter_fixed_args(const RunOptions& options, const std::string& program,
                                              const std::string& output_folder) {
  std::vector<std::string> args{program};
  const std::string extra = options.converter_params.substr(0, kOptionTextMax);
  std::size_t pos = 0;
  for (int taken = 0; taken < kMaxExtraOptions && pos < extra.size();) {
    std::size_t end = extra.find(' ', pos);
    if (end == std::string::npos) end = extra.size();
    if (end > pos) {
      args.push_back(extra.substr(pos, end - pos));
      ++taken;
    }
    pos = end + 1;
  }
  if (!options.preview.empty()) args.push_back(options.preview);
  if (!options.embed.empty()) args.push_back(options.embed);
  args.push_back("-d");
  args.push_back(output_folder);
  return args;
}

bool run_converter(RunReporter& reporter, RunCounters& counts, const std::string& program,
                   std::vector<std::string> args, std::size_t fixed_count, std::string& message) {
  const StopSource stop = [&reporter] { return reporter.stop_requested(); };
  for (;;) {
    if (args.size() <= fixed_count) {
      message.clear();
      return true;
    }
    struct stat st;
    if (::stat(system_path(program).c_str(), &st) != 0) {
      reporter.fail("can't execute DNG Converter");
      message.clear();
      return false;
    }
    if (run_program_batched(message, kConverterMessageSize, args, fixed_count, stop)) {
      message.clear();
      return true;
    }
    if (reporter.stop_requested()) {
      message.clear();
      return reporter.fail("Stopped");
    }
    reporter.report_append(message);
    std::string name;
    if (!bad_file_named(message, name)) {
      log_printf("DNG Converter message indicates not restartable.");
      return false;
    }
    std::size_t bad = fixed_count;
    while (bad < args.size() && !names_file(args[bad], name)) ++bad;
    if (bad == args.size()) {
      log_printf("File name in DNG Converter message not found in argument list.");
      message.clear();
      // The files after the named one were never converted: the run must end as failed,
      // not merely stop (the converter's text is in the report already).
      return reporter.fail("DNG Converter error");
    }
    ++counts.raws_corrupt;
    // The files before the bad one were handled by the failed run; the bad one is dropped.
    args.erase(args.begin() + static_cast<long>(fixed_count),
               args.begin() + static_cast<long>(bad) + 1);
  }
}

}  // namespace cw
