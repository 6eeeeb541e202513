// The macro expander: scanning, resolution of one macro, and the value of every name.
#include "metadata/macro.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

#include "foundation/exif_time.h"
#include "foundation/log.h"
#include "metadata/macro_exif.h"
#include "settings/param_list.h"
#include "metadata/macro_text.h"
#include "metadata/strptime.h"

namespace cw {
namespace {

// The database tables a TABLE.COLUMN macro may name: shown name, SQL name, key column.
struct TableDescriptor {
  const char* display;
  const char* table;
  const char* key_column;
};
const TableDescriptor kTables[] = {
    {"Clients", "client", "name"},
    {"Projects", "project", "name"},
    {"Cards", "card", "name"},
    {"Ingestions", "ingestion", "ingestion_sk"},
    {"IPTCcontact", "IPTCcontact", "creator"},
    {"IPTCcontent", "IPTCcontent", "id"},
    {"IPTCimage", "IPTCimage", "id"},
    {"IPTCstatus", "IPTCstatus", "id"},
    {"UserData", "UserData", "id"},
};
constexpr std::size_t kDatabaseNameMax = 49;

// IPTC fields whose values are lists (items separated by ";" or ",").
const char* const kIptcListFields[] = {"keywords", "catalogsets", "people", "othercategories"};

// Separates the entries of the vocabulary lists: they sit inside one RDF list item in a
// template, so each entry closes the item and opens the next.
constexpr const char* kVocabularySeparator = "</rdf:li>\n<rdf:li>";
constexpr const char* kListItemSeparator = "</rdf:li><rdf:li>";

// Whether the retired-macro message was shown in this process.
std::atomic<bool> g_retired_macro_message_shown{false};

struct MacroFields {
  std::string name;  // lowered
  int start = 1;
  int length = -1;
  std::string suffix;
};

// atoi with saturation instead of overflow: leading white space, a sign, digits.
int read_int(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}

// Splits the text between "{@" and "}" at commas; runs of commas count as one separator,
// and fields after the fourth are ignored.
bool split_fields(std::string_view body, MacroFields& f) {
  int field = 0;
  std::size_t i = 0;
  while (field < 4) {
    while (i < body.size() && body[i] == ',') ++i;
    if (i >= body.size()) break;
    std::size_t end = body.find(',', i);
    if (end == std::string_view::npos) end = body.size();
    std::string_view token = body.substr(i, end - i);
    switch (field) {
      case 0: f.name = to_lower(token); break;
      case 1: f.start = read_int(token); break;
      case 2: f.length = read_int(token); break;
      case 3: f.suffix = token; break;
    }
    ++field;
    i = end;
  }
  return !f.name.empty();
}

bool starts_with(std::string_view s, std::string_view head) {
  return s.size() >= head.size() && s.substr(0, head.size()) == head;
}

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Start offsets of the characters of a valid UTF-8 text that is not plain ASCII; empty for
// any other text, which is then counted in bytes.
std::vector<std::size_t> utf8_char_starts(const std::string& s) {
  std::vector<std::size_t> starts;
  // Most values (dates, names, numbers) are plain ASCII: no list to make for them.
  bool non_ascii = false;
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) {
      non_ascii = true;
      break;
    }
  if (!non_ascii) return starts;
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || i + len > s.size()) return {};
    for (std::size_t k = 1; k < len; ++k)
      if (!is_continuation(static_cast<unsigned char>(s[i + k]))) return {};
    starts.push_back(i);
    i += len;
  }
  return starts;
}

// Cuts `value` to its substring: start 1 is the first character; a negative start counts
// from the end; a negative length, or one past the end, takes the rest.
void take_substring(std::string& value, int start, int length) {
  std::vector<std::size_t> starts = utf8_char_starts(value);
  const long long n = starts.empty() ? static_cast<long long>(value.size())
                                     : static_cast<long long>(starts.size());
  long long index = start >= 1 ? start - 1LL : start < 0 ? n + start : -1;
  if (index < 0) index = 0;
  if (index > n) index = n;
  long long m = n - index;
  long long count = length < 0 || length > m ? m : length;
  auto offset = [&](long long k) {
    if (starts.empty()) return static_cast<std::size_t>(k);
    return k >= n ? value.size() : starts[static_cast<std::size_t>(k)];
  };
  const std::size_t from = offset(index), to = offset(index + count);
  value.erase(to);
  value.erase(0, from);
}

// Cuts a value to at most `max` bytes without splitting a UTF-8 character.
void limit_value(std::string& value, std::size_t max) {
  if (value.size() <= max) return;
  std::size_t cut = max;
  for (int k = 0; k < 3 && cut > 0 && is_continuation(static_cast<unsigned char>(value[cut])); ++k)
    --cut;
  value.resize(cut);
}

void trim_spaces(std::string& value) {
  std::size_t first = value.find_first_not_of(' ');
  if (first == std::string::npos) {
    value.clear();
    return;
  }
  value.erase(0, first);
  value.erase(value.find_last_not_of(' ') + 1);
}

bool is_white(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool is_identifier(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
      return false;
  return true;
}

std::string text_of(const PresetValue& v) { return v.is_text() ? v.text : std::string(); }

// A "YYYYMMDD_hhmmss" text as its month or weekday name; the fallback when it is not one.
std::string month_or_weekday(const std::string& datetime, bool month) {
  std::tm tm{};
  if (!cw::strptime(datetime.c_str(), "%Y%m%d_%H%M%S", &tm))
    return month ? "September" : "Thursday";
  tm.tm_isdst = -1;
  std::tm normal = tm;
  if (std::mktime(&normal) != static_cast<std::time_t>(-1)) tm = normal;
  return format_time(month ? "%B" : "%A", tm);
}

// Month or weekday conversion of the datetime names, chosen by the name.
std::string convert_datetime_value(const std::string& name, const std::string& value) {
  if (name.find("month") != std::string::npos) return month_or_weekday(value, true);
  if (name.find("weekday") != std::string::npos) return month_or_weekday(value, false);
  return value;
}

std::string now_text() {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  if (!localtime_r(&t, &local)) return "00000000_000000";
  return format_time("%Y%m%d_%H%M%S", local);
}

class Expander {
 public:
  Expander(const MacroInputs& in, MacroEnvironment& env, std::vector<std::string>* unknown)
      : in_(in), env_(env), unknown_(unknown) {}

  // Expands `text` at `depth` onto `out`. Throws only when memory runs out.
  void expand(std::string_view text, int depth, std::string& out);

 private:
  bool resolve(std::string_view macro_text, std::string& output);
  bool lookup(const std::string& name, std::string& value);
  bool database_lookup(const std::string& name, std::string& value);
  bool iptc_lookup(const std::string& field, std::string& value);
  bool build_vocabulary();
  std::string first_exif_date(const char* original, const char* digitized, const char* changed);
  void produce(const std::string& value, const std::string& suffix, std::string& output) const;

  const MacroInputs& in_;
  MacroEnvironment& env_;
  std::vector<std::string>* unknown_;  // where unknown macros are reported; may be null
  bool unknown_name_ = false;          // the last lookup met a name it does not know
  bool list_flag_ = false;
  // The vocabulary lists are built on first need within one call and live until it returns;
  // nothing can change the vocabulary while an expansion runs.
  bool lists_built_ = false;
  bool in_filenamenew_ = false;
  std::string catalog_sets_, keywords_;
  // The image's date as {@datetimeany} gives it, made once per call: folder formats and
  // templates name it several times over.
  std::optional<std::string> datetime_any_;
  // The time of the expansion, taken once: every {@datetimecurrent} of a text names the same
  // second.
  std::optional<std::string> now_;
};

void Expander::expand(std::string_view text, int depth, std::string& out) {
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t open = text.find("{@", i);
    if (open == std::string_view::npos) {
      out.append(text.substr(i));
      return;
    }
    out.append(text.substr(i, open - i));
    std::size_t close = text.find('}', open + 2);
    if (close == std::string_view::npos) {
      out.append(text.substr(open));
      return;
    }
    if (depth == 1) list_flag_ = false;
    std::string value;
    bool resolved = resolve(text.substr(open, close - open), value);
    i = close + 1;
    if (!resolved) {
      out.append(text.substr(open, close + 1 - open));
      continue;
    }
    if (value.empty()) {
      // An empty value takes the spaces after it and one encoded line break with it, so
      // that a template line holding only that value disappears.
      while (i < text.size() && text[i] == ' ') ++i;
      if (text.substr(i, 5) == "&#xA;") i += 5;
      continue;
    }
    if (depth < kMacroExpansionDepth)
      expand(value, depth + 1, out);
    else
      out += value;
  }
}

bool Expander::resolve(std::string_view macro_text, std::string& output) {
  if (macro_text.size() > kMacroTextMax) return false;
  MacroFields f;
  if (!split_fields(macro_text.substr(2), f)) return false;
  if (!lists_built_ && !build_vocabulary()) return false;
  std::string value;
  unknown_name_ = false;
  const bool found = lookup(f.name, value);
  const bool unknown_exif =
      found && starts_with(f.name, "exif.") && starts_with(value, "[Unknown macro: ");
  if (unknown_ && ((!found && unknown_name_) || unknown_exif))
    unknown_->emplace_back(std::string(macro_text) + "}");
  if (!found) return false;
  limit_value(value, f.name == "notes" || f.name == "prefix" ? kMacroShortValueMax : kMacroValueMax);
  trim_spaces(value);
  take_substring(value, f.start, f.length);
  if (value.empty()) {
    output.clear();
    return true;
  }
  produce(value, f.suffix, output);
  return true;
}

// The macro's output: the value, escaped for XML when asked (keeping RDF item tags), the
// suffix, and with the list flag the items split at ";" and ",".
void Expander::produce(const std::string& value, const std::string& suffix,
                       std::string& output) const {
  auto has_separator = [](const std::string& s) {
    return s.find_first_of(";,") != std::string::npos;
  };
  const bool split = list_flag_ && (has_separator(value) || has_separator(suffix));
  // Unsplit, the one item goes straight into `output`: it has nothing to trim.
  output.clear();
  std::vector<std::string> items;
  if (split)
    items.emplace_back();
  else
    output.reserve(value.size() + suffix.size());
  auto current = [&]() -> std::string& { return split ? items.back() : output; };
  auto put = [&](char c) {
    if (split && (c == ';' || c == ','))
      items.emplace_back();
    else
      current() += c;
  };
  for (std::size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (in_.xml && c == '<') {
      if (value.compare(i, 8, "<rdf:li>") == 0) {
        current() += "<rdf:li>";
        i += 7;
      } else if (value.compare(i, 9, "</rdf:li>") == 0) {
        current() += "</rdf:li>";
        i += 8;
      } else {
        current() += "&lt;";
      }
    } else if (in_.xml && c == '>') {
      current() += "&gt;";
    } else if (in_.xml && c == '&') {
      current() += "&amp;";
    } else {
      put(c);
    }
  }
  for (char c : suffix) put(c);
  if (!split) return;

  for (std::size_t k = 0; k < items.size(); ++k) {
    std::string& item = items[k];
    if (k + 1 < items.size())
      while (!item.empty() && is_white(item.back())) item.pop_back();
    std::size_t lead = 0;
    if (k > 0)
      while (lead < item.size() && is_white(item[lead])) ++lead;
    if (k > 0) output += kListItemSeparator;
    output.append(item, lead, std::string::npos);
  }
}

// The catalog-set and keyword lists from the stored vocabulary: each checked entry as the
// path of its names below the heading, joined by "|".
bool Expander::build_vocabulary() {
  std::vector<PresetValue> values;
  if (!env_.master_property_values("Vocabulary", values)) return false;
  std::vector<std::string> names(100);
  std::string gathered;
  bool in_keywords = false;
  for (const PresetValue& v : values) {
    if (!v.is_text() || v.text.size() < 4) return false;
    const std::string& item = v.text;
    if (item[0] < '0' || item[0] > '9' || item[1] < '0' || item[1] > '9') continue;
    int level = (item[0] - '0') * 10 + (item[1] - '0');
    if (level < 1) continue;
    std::string text = item.substr(4);
    if (!in_keywords && text == "Keywords") {
      catalog_sets_ = std::move(gathered);
      gathered.clear();
      in_keywords = true;
      names[level] = text;
      continue;
    }
    names[level] = text;
    if (item[2] != '*') continue;
    if (!gathered.empty()) gathered += kVocabularySeparator;
    for (int l = 2; l <= level; ++l) {
      if (l > 2) gathered += '|';
      gathered += names[l];
    }
  }
  if (in_keywords)
    keywords_ = std::move(gathered);
  else
    catalog_sets_ = std::move(gathered);
  lists_built_ = true;
  return true;
}

std::string Expander::first_exif_date(const char* original, const char* digitized,
                                      const char* changed) {
  for (const char* name : {original, digitized, changed}) {
    std::string v = exif_macro_value(env_, name, in_.cur_path);
    if (!exif_date_absent(v)) return v;
  }
  return {};
}

bool Expander::iptc_lookup(const std::string& field, std::string& value) {
  if (!env_.iptc_presets_loaded()) return false;
  for (const char* list_field : kIptcListFields)
    if (field == list_field) list_flag_ = true;
  value.clear();
  for (IptcPreset p : {IptcPreset::Photographer, IptcPreset::Content, IptcPreset::Rights}) {
    PresetValue v = env_.iptc_property(p, field);
    if (v.kind != PresetValue::Kind::Absent) {
      value = text_of(v);
      break;
    }
  }
  return true;
}

bool Expander::database_lookup(const std::string& name, std::string& value) {
  std::size_t dot = name.find('.');
  std::string table = name.substr(0, dot), column = name.substr(dot + 1);
  if (table.empty() || table.size() > kDatabaseNameMax || column.empty() ||
      column.size() > kDatabaseNameMax)
    return false;
  const TableDescriptor* found = nullptr;
  for (const TableDescriptor& d : kTables)
    if (equals_ignoring_case(table, d.display) || equals_ignoring_case(table, d.table)) {
      found = &d;
      break;
    }
  if (!found) {
    unknown_name_ = true;
    return false;
  }
  value.clear();
  // A column that is not a plain name cannot be a column of the table; asking the database
  // would only fail, so the value is empty as for a missing row.
  if (!is_identifier(column)) return true;
  DatabaseLookup q{found->table, found->key_column, column,
                   text_of(env_.master_property("LastDB_" + table))};
  if (std::optional<std::string> v = env_.database_value(q)) value = *v;
  return true;
}

bool Expander::lookup(const std::string& name, std::string& value) {
  if (name == "catalogsets") {
    value = catalog_sets_;
  } else if (name == "keywords") {
    value = keywords_;
  } else if (name == "notes") {
    value = env_.notes_text();
  } else if (name == "prefix") {
    PresetValue p = env_.master_property("FilenamePrefix");
    value = p.is_text() ? p.text : "IMG";
  } else if (name == "client" || name == "project" || name == "card") {
    if (!g_retired_macro_message_shown.exchange(true))
      alert_printf("Macros {@card}, {@client}, and {@project} are no longer implemented.");
    value = kMacroNoLongerImplemented;
  } else if (name == "filename") {
    value = in_.cur_filename;
  } else if (name == "sourcepath") {
    value = in_.cur_relPath && !in_.cur_relPath->empty() ? *in_.cur_relPath : ".";
  } else if (name == "extension") {
    value = in_.ext;
  } else if (name == "filenamenew") {
    PresetValue f = env_.master_property("NameFormat");
    std::string format = f.is_text() ? f.text : kDefaultNameFormat;
    // The name format must not name this macro again, directly or through the values it
    // pulls in; either would expand without end.
    if (in_filenamenew_ || contains_ignoring_case(format, "@filenamenew")) return false;
    bool saved_list_flag = list_flag_;
    in_filenamenew_ = true;
    value.clear();
    try {
      expand(format, 1, value);
    } catch (...) {
      in_filenamenew_ = false;
      throw;
    }
    in_filenamenew_ = false;
    list_flag_ = saved_list_flag;
  } else if (name == "datetimeany") {
    if (!datetime_any_ && !in_.cur_path && in_.cur_datetime == "YYYYMMDD_hhmmss") {
      datetime_any_ = in_.cur_datetime;
    } else if (!datetime_any_) {
      datetime_any_ = first_exif_date("datetimeoriginal", "datetimedigitized", "datetimechanged");
      if (datetime_any_->empty()) datetime_any_ = in_.cur_datetime;
    }
    value = *datetime_any_;
  } else if (name == "datetimeanymonth") {
    value = first_exif_date("datetimeoriginalmonth", "datetimedigitizedmonth",
                            "datetimechangedmonth");
    if (value.empty()) value = month_or_weekday(in_.cur_datetime, true);
  } else if (name == "datetimeanyweekday") {
    value = first_exif_date("datetimeoriginalweekday", "datetimedigitizedweekday",
                            "datetimechangedweekday");
    if (value.empty()) value = month_or_weekday(in_.cur_datetime, false);
  } else if (starts_with(name, "datetimecurrent")) {
    if (!now_) now_ = now_text();
    value = convert_datetime_value(name, *now_);
  } else if (name == "datetime" || name == "datetimemonth" || name == "datetimeweekday") {
    value = convert_datetime_value(name, in_.cur_datetime);
  } else if (starts_with(name, "datetime")) {
    unknown_name_ = true;
    return false;
  } else if (name == "sequence") {
    value = in_.cur_sequence;
  } else if (name == "uniqueid") {
    value = in_.unique_id;
  } else if (name == "numberrange") {
    value = in_.number_range;
  } else if (starts_with(name, "exif.")) {
    value = exif_macro_value(env_, name.substr(5), in_.cur_path);
  } else if (starts_with(name, "qf.")) {
    value = text_of(env_.master_property("qf_" + name.substr(3)));
  } else if (starts_with(name, "iptc.")) {
    return iptc_lookup(name.substr(5), value);
  } else if (name.find('.') != std::string::npos) {
    return database_lookup(name, value);
  } else {
    unknown_name_ = true;
    return false;
  }
  return true;
}

}  // namespace

bool macro_process_with_data(std::string_view template_text, std::string& processed,
                             const MacroInputs& inputs, MacroEnvironment& env) {
  return macro_process_with_data(template_text, processed, inputs, env, nullptr);
}

bool macro_process_with_data(std::string_view template_text, std::string& processed,
                             const MacroInputs& inputs, MacroEnvironment& env,
                             std::vector<std::string>* unknown) {
  processed.clear();
  try {
    Expander expander(inputs, env, unknown);
    expander.expand(template_text, 1, processed);
    return true;
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  processed.clear();
  CW_TRACE("out of memory expanding macros", kInternalErrorNumber);
  return false;
}

}  // namespace cw
