// The property store: named sets of named, indexed values kept as small text files.
//
// A set (PROPSET) lives in memory as an ordered list of properties (PROP), each an ordered list
// of values (PROPVAL, integer or string). On disc a set is one file named exactly like the set,
// in a folder named like its category, below one root folder (PropInit):
//
//   Version<TAB>1
//   Date<TAB><ctime text>
//   <name><TAB><value>        one line per value, values of a property in index order
//
// Files are written through a temporary "." file that is flushed to disc and renamed over the
// set file, so at every instant either the old or the new complete set exists. Failures are
// recorded on the error trace (foundation/log.h) and reported by the return value.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cw {

// Value types.
inline constexpr std::int32_t kPropInt = 0;
inline constexpr std::int32_t kPropStr = 1;

// Capacity of the line buffer used when reading: lines longer than kPropLineMax - 1 bytes
// (line end included) are read, and parsed, in pieces.
inline constexpr std::size_t kPropLineMax = 2125;

struct PROPVAL {
  std::int32_t type = kPropInt;
  std::int32_t intval = 0;
  std::string strval;  // type kPropStr; never holds a line end
};

struct PROP {
  std::string propname;       // compared without regard to case
  std::vector<PROPVAL> vals;  // never empty; position = index
};

struct PROPSET {
  bool modified = false;
  std::string category;
  std::optional<std::string> setname;  // none for a set that was never named
  std::vector<PROP> props;             // in order of first insertion
};

using PropSetPtr = std::unique_ptr<PROPSET>;

// ---- root and paths
// Keeps `root` as the store's root folder and creates it (an existing folder is success).
bool PropInit(const std::string& root);
// The current root ("" before PropInit).
const std::string& prop_root();
// root/category and root/category/setname; nothing before PropInit.
std::optional<std::string> get_category_path(const std::string& category);
std::optional<std::string> get_set_path(const std::string& category, const std::string& setname);

// ---- sets
// A new empty set, not modified.
PropSetPtr propset_alloc(const std::string& category, const std::optional<std::string>& setname);
// Reads the named set; the empty set when no name is given; null when the file can't be read.
PropSetPtr propset_get(const std::string& category, const std::optional<std::string>& setname);
// Reads a set file (LF or CRLF line ends), appending every line's value to `set`.
bool prop_read(PROPSET& set, const std::string& path);
// Writes the set to its file when it is modified (crash-safe replacement).
bool propset_write(PROPSET* set);
// Renames the set, marks it modified and writes it; the file under the old name stays.
bool propset_rename(PROPSET& set, const std::string& newname);
// Replaces the name only.
void propset_setname(PROPSET& set, const std::string& newname);
// True when the set's file exists (a missing set is not an error worth a trace entry).
bool propset_exists(const std::string& category, const std::string& setname);
// Removes the set file.
bool propset_delete(const std::string& category, const std::string& setname);
// The name of the n-th set (from 0) of the category in the folder listing's order, or none
// when there are fewer; false only on an error. Entries beginning with "." and anything but
// regular files are not sets.
bool propset_getname(const std::string& category, int n, std::optional<std::string>& name);
// Number of sets in the category.
int propset_count(const std::string& category);
// Puts every value of `src` into `dst` under the same name and index, keeping its type.
bool propset_copy(const PROPSET* src, PROPSET* dst);

// ---- values
// A string value: a copy of `text` ("" for null) with every CR and LF replaced by a space.
PROPVAL propval_alloc(const char* text, int unused = 0);
// The value at `index` of the named property; null when absent (or for a null set).
const PROPVAL* prop_get(const PROPSET* set, const std::string& name, int index);
// Stores a value: index -1 or past the end appends, an index in the list replaces.
bool prop_put(PROPSET& set, const std::string& name, int index, PROPVAL value);
// Typed puts; nothing happens (and success) when the set is null.
bool PropPutStr(PROPSET* set, const std::string& name, int index, const char* text);
bool PropPutInt(PROPSET* set, const std::string& name, int index, std::int32_t number);
// The string at the index; `def` when the set is null or the value absent; none when the value
// is an integer.
std::optional<std::string> PropGetStr(const PROPSET* set, const std::string& name, int index,
                                      const std::optional<std::string>& def);
// Moves or adds `text` at the front of "ExtensionsMRU", keeping at most 10 entries.
bool PropPutMRU(PROPSET* set, const char* text);
// Removes a property with all its values (when present) and marks the set modified.
void PropRemove(PROPSET* set, const std::string& name);
// Number of values of a property (0 when absent).
int prop_count(const PROPSET* set, const std::string& name);

// ---- fault injection for tests
// Called before each step of propset_write with the step's name ("open", "line", "flush",
// "sync", "close", "rename", "sync folder"); returning false makes that step fail as if the
// system had returned EIO. Empty function: no injection.
using PropWriteProbe = std::function<bool(const char* step)>;
void prop_set_write_probe(PropWriteProbe probe);

}  // namespace cw
