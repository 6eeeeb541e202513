// The reader's macro values of whole files against exiftool's, for the reader's corpus tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "imagefile/tv_reader.h"
#include "tests/fixtures/programs.h"

namespace cw::test {

// exiftool's tag names, the macro names that carry the same tags, and the standard tag
// numbers (makers reuse some names for their own tags).
struct ComparedTag {
  const char* tool;
  const char* macro;
  int tag;
};
inline const ComparedTag kComparedTags[] = {
    {"Make", "Make", 0x10f}, {"Model", "Model", 0x110},
    {"DateTimeOriginal", "DateTimeOriginal", 0x9003}, {"CreateDate", "DateTimeDigitized", 0x9004},
    {"ModifyDate", "DateTimeChanged", 0x132}, {"ExposureTime", "ExposureTime", 0x829a},
    {"FNumber", "FNumber", 0x829d}, {"ISO", "ISOSpeedRatings", 0x8827},
    {"FocalLength", "FocalLength", 0x920a}, {"Orientation", "Orientation", 0x112},
    {"SerialNumber", "CameraSerialNumber", 0xa431},
};

// A value of ours ("n/d" for rationals) as a number; false when it is not numeric.
inline bool as_number(const std::string& text, double& value) {
  double n = 0, d = 1;
  char slash = 0, rest = 0;
  const int got = std::sscanf(text.c_str(), "%lf%c%lf%c", &n, &slash, &d, &rest);
  if (got != 1 && (got != 3 || slash != '/' || d == 0)) return false;
  value = n / d;
  return true;
}

// file -> (our macro name -> exiftool's first value found in IFD0 or the EXIF directory)
inline std::map<std::string, std::map<std::string, std::string>> exiftool_values(
    const std::vector<std::string>& files) {
  std::string command = "exiftool -n -G1:3 -D -a -s -f";
  for (const ComparedTag& c : kComparedTags) command += std::string(" -") + c.tool;
  for (const std::string& f : files) (command += ' ') += sh_quote(f);
  std::string output;
  run_command(command + " 2>/dev/null", &output);
  std::map<std::string, std::map<std::string, std::string>> result;
  std::istringstream in(output);
  std::string line, current = files.size() == 1 ? files[0] : "";
  // "[IFD0:Main]  271 Make  : Canon": group, document (Main, not an embedded preview),
  // tag number, name, value.
  while (std::getline(in, line)) {
    if (line.rfind("======== ", 0) == 0) {
      current = line.substr(9);
      continue;
    }
    const std::size_t colon = line.find(" : ");
    if (line.rfind("[", 0) != 0 || colon == std::string::npos) continue;
    std::istringstream fields(line.substr(0, colon));
    std::string group, name;
    int number = -1;
    fields >> group >> number >> name;
    const std::string value = line.substr(colon + 3);
    if ((group != "[IFD0:Main]" && group != "[ExifIFD:Main]") || value == "-") continue;
    for (const ComparedTag& c : kComparedTags)
      if (name == c.tool && number == c.tag) result[current].emplace(c.macro, value);  // first wins
  }
  return result;
}

// Reads each file and compares every value exiftool gives with ours (numbers as numbers);
// returns how many were compared. A file we cannot read is a failure unless exiftool finds
// nothing in it either, or every file must be read.
inline int compare_with_exiftool(const std::vector<std::string>& files, bool every_file_read) {
  auto expected = exiftool_values(files);
  EXPECT_FALSE(expected.empty()) << "exiftool gave no values";
  int compared = 0;
  for (const std::string& f : files) {
    SCOPED_TRACE(f);
    TV_Reader reader;
    const bool ok = reader.open(f, true, true);
    const auto& theirs = expected[f];
    EXPECT_TRUE(ok || (theirs.empty() && !every_file_read)) << reader.message();
    for (const auto& [macro, value] : theirs) {
      const MacroPair* ours = reader.image() ? reader.image()->find_pair(macro) : nullptr;
      EXPECT_NE(ours, nullptr) << macro << " missing; exiftool gives " << value;
      if (!ours) continue;
      double a = 0, b = 0;
      if (as_number(value, b) && macro != "Make" && macro != "Model") {
        EXPECT_TRUE(as_number(ours->value, a)) << macro << " = " << ours->value;
        EXPECT_NEAR(a, b, 1e-6 * std::max(1.0, std::fabs(b))) << macro << " = " << ours->value;
      } else {
        EXPECT_EQ(ours->value, value) << macro;
      }
      ++compared;
    }
  }
  return compared;
}

}  // namespace cw::test
