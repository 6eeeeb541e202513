// The outside DNG converter: which files it takes, and running it over a list of files with
// a restart after each file it names as bad.
//
// The converter's command line is the program, up to four extra options, the preview option,
// "-e" to embed the raw file, "-d" and the output folder (the fixed part), then the files. Its
// error output names a file it could not convert as
//   Error while converting file: "PATH"      or      Not a supported raw file: "PATH"
// and the run then starts again after that file.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ingest/engine_context.h"

namespace cw {

// Size of the converter message buffer.
inline constexpr std::size_t kConverterMessageSize = 2000;
// Files handed to one converter run (each run goes in command lines of 50 files).
inline constexpr std::size_t kFilesPerConverterRun = 100;

// The converter the run uses: its path unless that is empty or "none" (a run without a backup
// has none). Nothing when no converter runs.
std::optional<std::string> converter_of(const RunOptions& options);

// True when the file's extension (after the last "." of its name, any case) is one the
// converter takes; DNG only when the run converts DNGs too. A name without extension: false.
bool is_convertible_raw(const RunOptions& options, const std::string& file);

// The fixed part of the command line: the program, options, "-d", the output folder.
std::vector<std::string> converter_fixed_args(const RunOptions& options, const std::string& program,
                                              const std::string& output_folder);

// Runs the converter over args[fixed_count ..]. A file the converter names as bad adds 1 to
// `counts.raws_corrupt` and the run goes on after it. On false, `message` holds the
// converter's message for the driver to report, or is empty when the failure was reported
// already.
bool run_converter(RunReporter& reporter, RunCounters& counts, const std::string& program,
                   std::vector<std::string> args, std::size_t fixed_count, std::string& message);

}  // namespace cw
