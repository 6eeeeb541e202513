// The ingestion parameter list: 31 positions, each a text except position 24, which carries
// the list of file paths the user picked (or nothing). The start-up flow fills it from the
// presets; the command-line program fills it from its arguments; copycard reads it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "foundation/capture_shift.h"

namespace cw {

// Positions of the parameter list, in order.
enum ParamPos : int {
  kParamProgram = 0,
  kParamCopy,
  kParamCardFolder,
  kParamBackupFolder,
  kParamPrimaryFolder,
  kParamConverterPath,
  kParamWantBackup,
  kParamNameFormat,
  kParamFolderFormat,
  kParamPartitionSize,
  kParamIncludeExtensions,
  kParamExtensions,
  kParamPreview,
  kParamEmbed,
  kParamVerifyOnly,
  kParamSidecarPath,
  kParamWantJpegVerify,
  kParamStartingNumber,
  kParamNumberRangeDigits,
  kParamIngestionId,
  kParamClientName,
  kParamProjectName,
  kParamCRDefaults,
  kParamNumberRangeSource,
  kParamFileArray,
  kParamBackupFolderPost,
  kParamWantBackupPost,
  kParamWantConvertDNGs,
  kParamWantXMPtoJPG,
  kParamExtractJPG,
  kParamConverterParams,
};

// The number of positions copycard requires.
inline constexpr int kParamCount = 31;

// Name of each position as the usage text gives it ("(program name)" for position 0).
extern const char* const kParamNames[kParamCount];

// The usage text that copycard reports when the count is wrong.
extern const char* const kCopycardUsage;

// Default name and folder specifications of a new master preset.
extern const char* const kDefaultNameFormat;
extern const char* const kDefaultFolderFormat;

struct ParamList {
  // Texts of positions 0 .. size-1; position 24's text is not read.
  std::vector<std::string> values;
  // Position 24: full paths of the images the user picked, or nothing for a whole card.
  std::optional<std::vector<std::string>> file_array;
  // Corrections of the capture times the run names and files images by (a multi-camera shoot
  // whose clocks disagreed); empty for none. Not a position of the list.
  CaptureShifts capture_shifts;
  // The corrected dates are written into the EXIF of the final copies. Not a position either.
  bool write_exif_times = false;

  int count() const { return static_cast<int>(values.size()); }
  // The text at a position; empty when the list is shorter.
  const std::string& text(int pos) const;
  // A flag is true when its text begins with "1".
  bool flag(int pos) const { return text(pos).rfind('1', 0) == 0; }
  // Integer value of a text, as C's atoi reads it (0 when it does not start with a number).
  int integer(int pos) const;
};

// A full list with the values the start-up flow supplies for a fresh master preset: no
// backups, no converter, every extension taken, default specifications.
ParamList default_param_list();

}  // namespace cw
