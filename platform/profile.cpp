// INI-file profile: parsing, escaping and the crash-safe rewrite.
#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "foundation/log.h"
#include "platform/paths.h"

namespace cw {

namespace {

// One line of the file, kept as read so that comments and unknown sections survive a rewrite.
struct Line {
  std::string text;
  std::string section;  // section the line belongs to
  std::string key;      // empty for headers, comments and blank lines
};

std::string trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  std::size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

std::vector<Line> load_lines() {
  std::vector<Line> lines;
  std::ifstream in(profile_path(), std::ios::binary);
  std::string text, section;
  while (std::getline(in, text)) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    Line line{text, section, ""};
    std::string t = trim(text);
    if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
      section = t.substr(1, t.size() - 2);
      line.section = section;
    } else if (!t.empty() && t[0] != ';' && t[0] != '#') {
      std::size_t eq = t.find('=');
      if (eq != std::string::npos) line.key = trim(t.substr(0, eq));
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

std::string escape(const std::string& v) {
  std::string out;
  // A leading blank is escaped so that "key = value" hand edits can be read without it.
  if (!v.empty() && v[0] == ' ') out += '\\';
  for (char c : v) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out;
}

std::string unescape(const std::string& v) {
  std::string out;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (v[i] != '\\' || i + 1 == v.size()) {
      out += v[i];
      continue;
    }
    char c = v[++i];
    out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
  }
  return out;
}

bool same_key(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// Creates every missing folder above the profile file.
void make_parent_folders(const std::string& path) {
  for (std::size_t i = 1; i < path.size(); ++i)
    if (path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0700);
}

bool save_lines(const std::vector<Line>& lines) {
  const std::string path = profile_path();
  make_parent_folders(path);
  // A private temporary name, so that two programs saving at once never share one.
  const std::string temp = path + "." + std::to_string(::getpid()) + ".tmp";
  std::FILE* out = std::fopen(temp.c_str(), "w");
  if (!out) {
    CW_TRACE("out = fopen(profile_tmp, \"w\")", errno);
    return false;
  }
  bool ok = true;
  for (const Line& l : lines)
    if (std::fprintf(out, "%s\n", l.text.c_str()) < 0) ok = false;
  ok = ok && std::fflush(out) == 0 && ::fsync(fileno(out)) == 0;
  int err = errno;
  if (std::fclose(out) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
    CW_TRACE("rename(profile_tmp, profile)", ok ? errno : err);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

bool put_raw(const std::string& section, const std::string& key,
             const std::optional<std::string>& value) {
  std::vector<Line> lines = load_lines();
  std::string text = key + "=" + (value ? escape(*value) : "");
  std::size_t last_of_section = std::string::npos;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!same_key(lines[i].section, section)) continue;
    last_of_section = i;
    if (same_key(lines[i].key, key)) {
      if (value)
        lines[i].text = text;
      else
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
      return save_lines(lines);
    }
  }
  if (!value) return true;
  if (last_of_section == std::string::npos) {
    lines.push_back({"[" + section + "]", section, ""});
    last_of_section = lines.size() - 1;
  } else {
    // Keep the new key ahead of the section's trailing blank lines.
    while (last_of_section > 0 && trim(lines[last_of_section].text).empty()) --last_of_section;
  }
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(last_of_section + 1),
               {text, section, key});
  return save_lines(lines);
}

}  // namespace

std::optional<std::string> profile_get_raw(const std::string& section, const std::string& key) {
  for (const Line& l : load_lines()) {
    if (!same_key(l.section, section) || !same_key(l.key, key)) continue;
    std::size_t eq = l.text.find('=');
    std::string v = l.text.substr(eq + 1);
    std::size_t b = v.find_first_not_of(" \t");
    return unescape(b == std::string::npos ? "" : v.substr(b));
  }
  return std::nullopt;
}

int profile_get_int(const std::string& section, const std::string& key, int def) {
  auto raw = profile_get_raw(section, key);
  if (!raw) return def;
  std::string t = trim(*raw);
  if (t.empty()) return def;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(t.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return def;
  return static_cast<int>(v);
}

std::string profile_get_string(const std::string& section, const std::string& key,
                               const std::string& def) {
  return profile_get_raw(section, key).value_or(def);
}

std::optional<std::vector<std::uint8_t>> profile_get_binary(const std::string& section,
                                                            const std::string& key) {
  auto raw = profile_get_raw(section, key);
  if (!raw || raw->size() % 2 != 0) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < raw->size(); i += 2) {
    char pair[3] = {(*raw)[i], (*raw)[i + 1], 0};
    char* end = nullptr;
    unsigned long b = std::strtoul(pair, &end, 16);
    if (*end != '\0') return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(b));
  }
  return bytes;
}

bool profile_put_int(const std::string& section, const std::string& key, int value) {
  return put_raw(section, key, std::to_string(value));
}

bool profile_put_string(const std::string& section, const std::string& key,
                        const std::string& value) {
  return put_raw(section, key, value);
}

bool profile_put_binary(const std::string& section, const std::string& key,
                        const std::vector<std::uint8_t>& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (std::uint8_t b : bytes) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return put_raw(section, key, text);
}

bool profile_remove(const std::string& section, const std::string& key) {
  return put_raw(section, key, std::nullopt);
}

}  // namespace cw
