// XMP sidecar generation: template copy rules, develop-settings blocks, expansion, tidying,
// writing.
//
// Sections: line reading and failure reporting; the settings block (Camera Raw defaults XMP,
// develop preset token walk, cache); the template copy; building and writing the sidecar.
#include "metadata/sidecar.h"

#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <new>
#include <vector>

#include "foundation/fs.h"
#include "foundation/log.h"
#include "metadata/macro.h"
#include "metadata/macro_exif.h"
#include "metadata/xmp_tidy.h"

namespace cw {

namespace {

// ---- Line reading and failure reporting -------------------------------------------------

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

enum class LineResult { Line, End, TooLong };

// Reads one line into `line` (its ending replaced by one line feed).
LineResult read_line(std::FILE* in, std::string& line) {
  line.clear();
  bool any = false;
  int c;
  while ((c = std::getc(in)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (c == '\r') {
      int next = std::getc(in);
      if (next != '\n' && next != EOF) std::ungetc(next, in);
      break;
    }
    if (line.size() >= kSidecarLineMax) return LineResult::TooLong;
    line += static_cast<char>(c);
  }
  if (!any) return LineResult::End;
  line += '\n';
  return LineResult::Line;
}

// The line after its leading white space: what the copy rules look at.
std::string_view trimmed(const std::string& line) {
  std::size_t i = line.find_first_not_of(" \t");
  return i == std::string::npos ? std::string_view() : std::string_view(line).substr(i);
}

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Stores the message, traces it with the current errno and logs the errno.
bool sidecar_failure(std::string& msg, const char* text, int line) {
  int e = errno;
  msg = text;
  errstack_push("sidecar", "sidecar", line, text, e, 0);
  log_printf("Error: %d\n", e);
  return false;
}
#define SIDECAR_FAIL(msg, text) sidecar_failure((msg), (text), __LINE__)

constexpr const char* kDescriptionHead = "<rdf:Description rdf:about=\"\"\n";
constexpr const char* kDescriptionEnd = "</rdf:Description>";
constexpr const char* kDocumentStart = "<x:xmpmeta xmlns:x=";

std::string xml_escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

// ---- Develop preset token walk ------------------------------------------------------------

std::vector<std::string> tokens_of(const std::string& text) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t start = text.find_first_not_of(" \t\n\r", i);
    if (start == std::string::npos) break;
    std::size_t end = text.find_first_of(" \t\n\r", start);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    i = end;
  }
  return out;
}

void drop_trailing_comma(std::string& token) {
  if (!token.empty() && token.back() == ',') token.pop_back();
}

void drop_quotes(std::string& value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    value = value.substr(1, value.size() - 2);
}

void write_plain(std::string& rdf, const std::string& key, std::string value) {
  drop_quotes(value);
  rdf += "<crs:" + key + ">" + xml_escaped(value) + "</crs:" + key + ">\n";
}

void write_list(std::string& rdf, const std::string& key, const std::vector<std::string>& items) {
  rdf += "<crs:" + key + ">\n\t\t<rdf:Seq>\n";
  for (std::size_t i = 0; i < items.size(); i += 2) {
    rdf += "\t\t\t<rdf:li>" + xml_escaped(items[i]);
    if (i + 1 < items.size()) rdf += ", " + xml_escaped(items[i + 1]);
    rdf += "</rdf:li>\n";
  }
  rdf += "\t\t</rdf:Seq>\n\t</crs:" + key + ">\n";
}

// Walks the tokens of a develop preset: everything before "settings =" is ignored; inside the
// table each "KEY = VALUE" becomes an element until the table's closing "},". A value is one
// token (a quoted text with spaces spans the tokens up to its closing quote) or a list from a
// token beginning with "{" to one ending with "}".
void walk_settings(const std::vector<std::string>& tokens, std::string& rdf) {
  enum class State { Before, Key, Value } state = State::Before;
  std::string key;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const std::string& token = tokens[i];
    switch (state) {
      case State::Before:
        if (token == "=" && i > 0 && tokens[i - 1] == "settings") state = State::Key;
        break;
      case State::Key:
        if (token == "},") return;
        if (token == "=") {
          if (!key.empty()) state = State::Value;
        } else {
          key = token;
        }
        break;
      case State::Value: {
        std::string value = token;
        if (value.front() == '{') {
          std::vector<std::string> items;
          value.erase(0, 1);
          for (;;) {
            drop_trailing_comma(value);
            bool last = !value.empty() && value.back() == '}';
            if (last) value.pop_back();
            drop_trailing_comma(value);
            if (!value.empty()) items.push_back(value);
            if (last || i + 1 >= tokens.size()) break;
            value = tokens[++i];
          }
          write_list(rdf, key, items);
        } else {
          // A quoted text holding spaces was split into several tokens: join them again.
          if (value.front() == '"') {
            drop_trailing_comma(value);
            while ((value.size() < 2 || value.back() != '"') && i + 1 < tokens.size()) {
              value += ' ' + tokens[++i];
              drop_trailing_comma(value);
            }
          }
          drop_trailing_comma(value);
          write_plain(rdf, key, value);
        }
        key.clear();
        state = State::Key;
        break;
      }
    }
  }
}

// ---- Template cache ------------------------------------------------------------------------

// The kept template is the one at `path`, unchanged, made with this settings block.
bool template_matches(const SidecarCache& cache, const std::string& path, const std::string& crs,
                      const struct stat& st) {
  return cache.template_size == st.st_size &&
         cache.template_modified.tv_sec == st.st_mtim.tv_sec &&
         cache.template_modified.tv_nsec == st.st_mtim.tv_nsec && cache.template_path == path &&
         cache.template_settings_block == crs;
}

// ---- Template copy -------------------------------------------------------------------------

// Namespaces whose descriptions a template may not carry into a sidecar: the settings come
// from the develop-settings file, and camera values belong to the image itself.
constexpr const char* kDroppedNamespaces[] = {"xmlns:crs=", "xmlns:exif=", "xmlns:aux=",
                                              "xmlns:tiff=", "xmlns:xapMM="};

bool copy_template(std::FILE* in, const std::string& crs_block, std::string& document,
                   std::string& msg) {
  std::string line;
  bool document_started = false;
  bool settings_written = false;
  bool head_pending = false;
  bool dropping = false;
  for (;;) {
    LineResult r = read_line(in, line);
    if (r == LineResult::End) break;
    if (r == LineResult::TooLong)
      return SIDECAR_FAIL(msg, "error reading metadata template -- line too long");
    std::string_view text = trimmed(line);
    if (starts_with(text, "<?xpacket")) {
      std::size_t at = line.find(kDocumentStart);
      if (at == std::string::npos) continue;
      line.erase(0, at);
      text = line;
    }
    if (starts_with(text, kDocumentStart)) {
      document_started = true;
      document += line;
      continue;
    }
    if (starts_with(text, "<rdf:Description rdf:about=")) {
      if (!document_started)
        return SIDECAR_FAIL(
            msg, "error reading metadata template -- \"<x:xmpmeta ...>\" must be at start of line");
      if (!settings_written) {
        document += crs_block;
        settings_written = true;
      }
      head_pending = true;
      continue;
    }
    bool drops = false;
    for (const char* ns : kDroppedNamespaces) drops = drops || starts_with(text, ns);
    if (drops) {
      dropping = true;
      head_pending = false;
      continue;
    }
    if (dropping) {
      if (starts_with(text, kDescriptionEnd)) dropping = false;
      continue;
    }
    if (head_pending) {
      document += kDescriptionHead;
      head_pending = false;
    }
    document += line;
  }
  if (std::ferror(in)) return SIDECAR_FAIL(msg, "error reading metadata template");
  return true;
}

// The image's capture time as the template's date macros give it, and the zone the camera
// recorded for it. The zone belongs to the original date only: a date taken from the file's
// time has none.
SidecarCapture capture_of(const MacroInputs& inputs, MacroEnvironment& env) {
  SidecarCapture capture;
  MacroInputs plain = inputs;
  plain.xml = false;
  if (!macro_process_with_data("{@datetimeany}", capture.datetime, plain, env)) return {};
  if (inputs.cur_path && !capture.datetime.empty() &&
      exif_macro_value(env, "datetimeoriginal", inputs.cur_path) == capture.datetime)
    capture.zone = exif_zone_offset(
        env.image_exif_value(*inputs.cur_path, "OffsetTimeOriginal").value_or(std::string()));
  return capture;
}

std::string extension_of(const std::string& path) {
  std::size_t dot = path.rfind('.');
  return dot == std::string::npos ? std::string() : path.substr(dot + 1);
}

}  // namespace

// ---- Settings block ----------------------------------------------------------------------

bool get_CameraRaw(std::FILE* in, std::string& rdf, std::string& msg) {
  std::string line;
  bool copying = false;
  for (;;) {
    LineResult r = read_line(in, line);
    if (r == LineResult::End) return true;
    if (r == LineResult::TooLong)
      return SIDECAR_FAIL(msg, "error reading Camera Raw defaults XMP file -- line too long");
    std::string_view text = trimmed(line);
    if (!copying) {
      if (!starts_with(text, "xmlns:crs=")) continue;
      copying = true;
      rdf += kDescriptionHead;
    }
    rdf += line;
    if (starts_with(text, kDescriptionEnd)) return true;
  }
}

bool get_Lightroom(std::FILE* in, std::string& rdf, std::string& msg) {
  std::string whole, line;
  for (;;) {
    LineResult r = read_line(in, line);
    if (r == LineResult::End) break;
    if (r == LineResult::TooLong)
      return SIDECAR_FAIL(msg, "error reading Lightroom Develop settings file -- line too long");
    whole += line;
  }
  rdf += kDescriptionHead;
  rdf += "    xmlns:crs=\"";
  rdf += kCrsNamespace;
  rdf += "\">\n";
  walk_settings(tokens_of(whole), rdf);
  rdf += kDescriptionEnd;
  rdf += '\n';
  return true;
}

std::optional<std::string> get_rdf_crs(SidecarCache& cache, const std::string& path_CRDefaults,
                                       std::string& msg) {
  if (cache.settings_path && *cache.settings_path == path_CRDefaults)
    return cache.settings_block;
  cache.settings_path.reset();
  cache.settings_block.clear();
  std::string block;
  if (!path_CRDefaults.empty()) {
    block = "<!-- Camera Raw Settings inserted by CardwrightPro from file " + path_CRDefaults +
            " -->\n";
    FilePtr in(std::fopen(path_CRDefaults.c_str(), "r"));
    if (!in) {
      SIDECAR_FAIL(msg, "can't open Camera Raw/Develop settings file");
      return std::nullopt;
    }
    bool ok = path_CRDefaults.find(".lrtemplate") != std::string::npos
                  ? get_Lightroom(in.get(), block, msg)
                  : get_CameraRaw(in.get(), block, msg);
    if (!ok) return std::nullopt;
    if (std::ferror(in.get())) {
      SIDECAR_FAIL(msg, "error reading Camera Raw/Develop settings file");
      return std::nullopt;
    }
  }
  cache.settings_path = path_CRDefaults;
  cache.settings_block = block;
  return block;
}

bool convert_to_UTF8(std::string_view processed, std::string& processedUTF8, std::string& msg) {
  try {
    processedUTF8.clear();
    processedUTF8.reserve(processed.size() * 3);
  } catch (const std::bad_alloc&) {
    return SIDECAR_FAIL(msg, "out of memory");
  }
  std::string why;
  if (!to_utf8(processed, processedUTF8, why)) {
    errstack_push("sidecar", "sidecar", __LINE__, why.c_str(), errno, 0);
    msg = why.empty() ? "out of memory" : why;
    log_printf("Error: %d\n", errno);
    return false;
  }
  return true;
}

// ---- Building the sidecar ----------------------------------------------------------------

bool sidecar_text(const std::string& path_template, const std::string& path_CRDefaults,
                  const std::string& cur_filename, const std::string& cur_datetime,
                  const std::string& cur_sequence, const std::string& cur_path,
                  MacroEnvironment& env, SidecarCache& cache, std::string& utf8,
                  std::string& msg) {
  utf8.clear();
  if (path_template.empty() && path_CRDefaults.empty()) return true;

  std::optional<std::string> crs_block = get_rdf_crs(cache, path_CRDefaults, msg);
  if (!crs_block) return false;

  std::string document;
  if (!path_template.empty()) {
    struct stat st {};
    const bool known = ::stat(path_template.c_str(), &st) == 0;
    if (known && template_matches(cache, path_template, *crs_block, st)) {
      document = cache.template_document;
    } else {
      cache.template_size = -1;
      FilePtr in(std::fopen(path_template.c_str(), "r"));
      if (!in) return SIDECAR_FAIL(msg, "can't open metadata template");
      if (!copy_template(in.get(), *crs_block, document, msg)) return false;
      document += "<!-- XMP sidecar constructed by CardwrightPro from template: " + path_template +
                  " -->\n";
      if (known) {
        cache.template_path = path_template;
        cache.template_settings_block = *crs_block;
        cache.template_document = document;
        cache.template_modified = st.st_mtim;
        cache.template_size = st.st_size;
      }
    }
  } else {
    if (crs_block->empty()) return true;
    document = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"3.1.2-113\">\n"
               "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n";
    document += *crs_block;
    document += "</rdf:RDF>\n</x:xmpmeta>\n";
    document += "<!-- XMP sidecar constructed by CardwrightPro (no template) -->\n";
  }

  MacroInputs inputs;
  inputs.cur_filename = cur_filename;
  inputs.cur_datetime = cur_datetime;
  inputs.cur_sequence = cur_sequence;
  inputs.unique_id = kSidecarUniqueId;
  inputs.number_range = kSidecarNumberRange;
  if (!cur_path.empty()) inputs.cur_path = cur_path;
  inputs.ext = extension_of(cur_path);
  inputs.cur_relPath = std::string();
  inputs.xml = true;
  std::string processed;
  if (!macro_process_with_data(document, processed, inputs, env))
    return SIDECAR_FAIL(msg, "macro translation error");
  if (!convert_to_UTF8(processed, utf8, msg)) return false;
  std::string why;
  if (!tidy_sidecar_xmp(utf8, capture_of(inputs, env), why)) {
    const std::string text = "template and settings do not expand to well-formed XML: " + why;
    errstack_push("sidecar", "sidecar", __LINE__, text.c_str(), 0, 0);
    log_printf("%s\n", text.c_str());
    msg = text;
    utf8.clear();
    return false;
  }
  return true;
}

bool sidecar_from_template(const std::string& path_template, const std::string& path_CRDefaults,
                           const std::string& path_new_sidecar, const std::string& cur_filename,
                           const std::string& cur_datetime, const std::string& cur_sequence,
                           const std::string& cur_path, MacroEnvironment& env,
                           SidecarCache& cache, std::string& msg, bool& wanted) {
  wanted = !(path_template.empty() && path_CRDefaults.empty());
  std::string utf8;
  if (!sidecar_text(path_template, path_CRDefaults, cur_filename, cur_datetime, cur_sequence,
                    cur_path, env, cache, utf8, msg))
    return false;
  // No text (nothing wanted, or a settings file whose block is empty): nothing is written.
  if (utf8.empty()) return true;
  FilePtr out(std::fopen(path_new_sidecar.c_str(), "w"));
  if (!out) return SIDECAR_FAIL(msg, "can't open sidecar for writing");
  if (std::fwrite(utf8.data(), 1, utf8.size(), out.get()) != utf8.size())
    return SIDECAR_FAIL(msg, "error writing sidecar");
  if (std::fclose(out.release()) != 0) return SIDECAR_FAIL(msg, "error writing sidecar");
  return true;
}

}  // namespace cw
