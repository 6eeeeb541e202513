// The property store: set files on disc and the values of a set in memory.
//
// Sections: root and paths; values; reading; writing (crash-safe replacement); set names.
#include "util/proper.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "foundation/fs.h"
#include "foundation/log.h"

namespace cw {

namespace {

std::string& root_storage() {
  static std::string root;
  return root;
}

PropWriteProbe& write_probe() {
  static PropWriteProbe probe;
  return probe;
}

bool same_name(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

PROP* find_prop(PROPSET* set, const std::string& name) {
  if (!set) return nullptr;
  for (PROP& p : set->props)
    if (same_name(p.propname, name)) return &p;
  return nullptr;
}

const PROP* find_prop(const PROPSET* set, const std::string& name) {
  return find_prop(const_cast<PROPSET*>(set), name);
}

// A missing folder is created; one that exists is fine. Something else under that name (a
// regular file) fails with ENOTDIR rather than later, at the first save.
bool make_dir(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0) return true;
  if (errno != EEXIST) return false;
  if (is_folder(path)) return true;
  errno = ENOTDIR;
  return false;
}

}  // namespace

// ---------------------------------------------------------------- root and paths

bool PropInit(const std::string& root) {
  root_storage() = root;
  if (!make_dir(root)) {
    CW_TRACE("", errno);
    return false;
  }
  return true;
}

const std::string& prop_root() { return root_storage(); }

std::optional<std::string> get_category_path(const std::string& category) {
  if (root_storage().empty()) {
    CW_TRACE("path = malloc(strlen(root) + strlen(category) + 2)", kInternalErrorNumber);
    return std::nullopt;
  }
  return root_storage() + "/" + category;
}

std::optional<std::string> get_set_path(const std::string& category,
                                        const std::string& setname) {
  auto path = get_category_path(category);
  if (!path) {
    CW_TRACE("path = (char *)get_category_path(category)", kInternalErrorNumber);
    return std::nullopt;
  }
  return *path + "/" + setname;
}

// ---------------------------------------------------------------- values

PROPVAL propval_alloc(const char* text, int) {
  PROPVAL v;
  v.type = kPropStr;
  v.strval = text ? text : "";
  for (char& c : v.strval)
    if (c == '\r' || c == '\n') c = ' ';
  return v;
}

const PROPVAL* prop_get(const PROPSET* set, const std::string& name, int index) {
  const PROP* p = find_prop(set, name);
  if (!p || index < 0 || static_cast<std::size_t>(index) >= p->vals.size()) return nullptr;
  return &p->vals[index];
}

int prop_count(const PROPSET* set, const std::string& name) {
  const PROP* p = find_prop(set, name);
  return p ? static_cast<int>(p->vals.size()) : 0;
}

bool prop_put(PROPSET& set, const std::string& name, int index, PROPVAL value) {
  if (PROP* p = find_prop(&set, name)) {
    if (index < 0 || static_cast<std::size_t>(index) >= p->vals.size())
      p->vals.push_back(std::move(value));
    else
      p->vals[index] = std::move(value);
  } else {
    PROP np;
    np.propname = name;
    np.vals.push_back(std::move(value));
    set.props.push_back(std::move(np));
  }
  set.modified = true;
  return true;
}

bool PropPutStr(PROPSET* set, const std::string& name, int index, const char* text) {
  if (!set) return true;
  return prop_put(*set, name, index, propval_alloc(text, 0));
}

bool PropPutInt(PROPSET* set, const std::string& name, int index, std::int32_t number) {
  if (!set) return true;
  PROPVAL v;
  v.type = kPropInt;
  v.intval = number;
  return prop_put(*set, name, index, std::move(v));
}

std::optional<std::string> PropGetStr(const PROPSET* set, const std::string& name, int index,
                                      const std::optional<std::string>& def) {
  const PROPVAL* v = prop_get(set, name, index);
  if (!v) return def;
  if (v->type != kPropStr) return std::nullopt;
  return v->strval;
}

bool PropPutMRU(PROPSET* set, const char* text) {
  if (!set) return true;
  static const char* const kMRU = "ExtensionsMRU";
  constexpr std::size_t kMRULimit = 10;
  PROP* p = find_prop(set, kMRU);
  if (!p) return PropPutStr(set, kMRU, 0, text);
  PROPVAL current = propval_alloc(text, 0);
  std::size_t at = 0;
  while (at < p->vals.size() &&
         !(p->vals[at].type == kPropStr && same_name(p->vals[at].strval, current.strval)))
    ++at;
  if (at == 0) return true;  // already the most recent: nothing changes
  if (at < p->vals.size()) {
    current = std::move(p->vals[at]);
    p->vals.erase(p->vals.begin() + static_cast<std::ptrdiff_t>(at));
  }
  p->vals.insert(p->vals.begin(), std::move(current));
  if (p->vals.size() > kMRULimit) p->vals.resize(kMRULimit);
  set->modified = true;
  return true;
}

void PropRemove(PROPSET* set, const std::string& name) {
  if (!set) return;
  for (auto it = set->props.begin(); it != set->props.end(); ++it) {
    if (same_name(it->propname, name)) {
      set->props.erase(it);
      set->modified = true;
      return;
    }
  }
}

bool propset_copy(const PROPSET* src, PROPSET* dst) {
  if (!src || !dst) return true;
  for (const PROP& p : src->props)
    for (std::size_t i = 0; i < p.vals.size(); ++i)
      if (!prop_put(*dst, p.propname, static_cast<int>(i), p.vals[i])) return false;
  return true;
}

// ---------------------------------------------------------------- sets and reading

PropSetPtr propset_alloc(const std::string& category, const std::optional<std::string>& setname) {
  auto set = std::make_unique<PROPSET>();
  set->category = category;
  set->setname = setname;
  return set;
}

bool prop_read(PROPSET& set, const std::string& path) {
  std::FILE* in = std::fopen(path.c_str(), "r");
  if (!in) {
    int err = errno;
    log_printf("prop_read failed to open %s", path.c_str());
    log_printf("path: %s", path.c_str());
    CW_TRACE("in = fopen(path, \"r\")", err);
    return false;
  }
  char buf[kPropLineMax];
  bool ok = true;
  while (std::fgets(buf, sizeof buf, in)) {
    std::size_t len = std::strlen(buf);
    if (len > 0 && buf[len - 1] == '\n') {
      buf[--len] = '\0';
      if (len > 0 && buf[len - 1] == '\r') buf[--len] = '\0';
    }
    if (len == 0) continue;  // an empty line carries nothing
    char* name = buf;
    while (*name == '\t') ++name;
    if (*name == '\0') {  // nothing but tabs
      CW_TRACE("PropPutStr(ps, propname, -1, val)", kInternalErrorNumber);
      ok = false;
      break;
    }
    char* tab = std::strchr(name, '\t');
    const char* value = "";
    if (tab) {
      *tab = '\0';
      value = tab + 1;
    }
    if (!PropPutStr(&set, name, -1, value)) {
      CW_TRACE("PropPutStr(ps, propname, -1, val)", kInternalErrorNumber);
      ok = false;
      break;
    }
  }
  if (ok && std::ferror(in)) {
    CW_TRACE("fgets(line, sizeof line, in)", errno);
    ok = false;
  }
  std::fclose(in);
  return ok;
}

PropSetPtr propset_get(const std::string& category, const std::optional<std::string>& setname) {
  PropSetPtr set = propset_alloc(category, setname);
  if (!setname) return set;
  auto path = get_set_path(category, *setname);
  if (!path) {
    CW_TRACE("path_set = get_set_path(category, setname)", kInternalErrorNumber);
    return nullptr;
  }
  if (!prop_read(*set, *path)) {
    CW_TRACE("prop_read(ps, path_set)", kInternalErrorNumber);
    return nullptr;
  }
  return set;
}

void propset_setname(PROPSET& set, const std::string& newname) { set.setname = newname; }

bool propset_rename(PROPSET& set, const std::string& newname) {
  set.setname = newname;
  set.modified = true;
  return propset_write(&set);
}

bool propset_exists(const std::string& category, const std::string& setname) {
  auto path = get_set_path(category, setname);
  struct stat st;
  return path && ::stat(path->c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool propset_delete(const std::string& category, const std::string& setname) {
  auto path = get_set_path(category, setname);
  if (!path) {
    CW_TRACE("path_set = get_set_path(category, setname)", kInternalErrorNumber);
    return false;
  }
  if (::unlink(path->c_str()) != 0) {
    CW_TRACE("unlink(path_set)", errno);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------- writing

void prop_set_write_probe(PropWriteProbe probe) { write_probe() = std::move(probe); }

namespace {

// Runs the test probe before a step; false means "fail this step with EIO".
bool step_allowed(const char* step) {
  const PropWriteProbe& probe = write_probe();
  if (probe && !probe(step)) {
    errno = EIO;
    return false;
  }
  return true;
}

bool is_reserved(const std::string& name) {
  return same_name(name, "Version") || same_name(name, "Date");
}

// Writes the whole file body; false with errno set on the first failed line.
bool write_body(std::FILE* out, const PROPSET& set) {
  std::time_t now = std::time(nullptr);
  char date[64];
  if (!ctime_r(&now, date)) std::strcpy(date, "\n");
  if (!step_allowed("line") || std::fprintf(out, "Version\t%d\n", 1) < 0) return false;
  if (!step_allowed("line") || std::fprintf(out, "Date\t%s", date) < 0) return false;
  for (const PROP& p : set.props) {
    if (is_reserved(p.propname)) continue;
    for (const PROPVAL& v : p.vals) {
      if (!step_allowed("line")) return false;
      int rc = v.type == kPropInt
                   ? std::fprintf(out, "%s\t%d\n", p.propname.c_str(), v.intval)
                   : std::fprintf(out, "%s\t%s\n", p.propname.c_str(), v.strval.c_str());
      if (rc < 0) return false;
    }
  }
  return true;
}

// Makes a completed rename durable: the folder's entry is flushed too.
bool sync_folder(const std::string& folder) {
  if (!step_allowed("sync folder")) return false;
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int rc = ::fsync(fd);
  int err = errno;
  ::close(fd);
  errno = err;
  return rc == 0;
}

}  // namespace

bool propset_write(PROPSET* set) {
  if (!set) return false;
  if (!set->modified) return true;
  if (!set->setname || set->setname->empty()) {
    CW_TRACE("setname_dot = malloc(strlen(ps->setname) + 2)", kInternalErrorNumber);
    return false;
  }
  const std::string setname_dot = "." + *set->setname;
  auto path_category = get_category_path(set->category);
  if (!path_category) {
    CW_TRACE("path_category = get_category_path(ps->category)", kInternalErrorNumber);
    return false;
  }
  if (!make_dir(*path_category)) {
    CW_TRACE("", errno);
    return false;
  }
  auto path_set = get_set_path(set->category, *set->setname);
  if (!path_set) {
    CW_TRACE("path_set = get_set_path(ps->category, ps->setname)", kInternalErrorNumber);
    return false;
  }
  auto path_set_dot = get_set_path(set->category, setname_dot);
  if (!path_set_dot) {
    CW_TRACE("path_set_dot = get_set_path(ps->category, setname_dot)", kInternalErrorNumber);
    return false;
  }

  std::FILE* out = step_allowed("open") ? std::fopen(path_set_dot->c_str(), "w") : nullptr;
  if (!out) {
    CW_TRACE("out = fopen(path_set_dot, \"w\")", errno);
    return false;
  }
  // The new content must be on disc before it replaces the old file, or a crash after the
  // rename could leave an empty set file.
  bool written = write_body(out, *set);
  if (written) written = step_allowed("flush") && std::fflush(out) == 0;
  if (written) written = step_allowed("sync") && ::fsync(fileno(out)) == 0;
  int err = errno;
  if (!written) {
    CW_TRACE("", err);
    std::fclose(out);
    ::unlink(path_set_dot->c_str());
    return false;
  }
  if (!step_allowed("close") || std::fclose(out) != 0) {
    CW_TRACE("fclose(out)", errno);
    ::unlink(path_set_dot->c_str());
    return false;
  }
  // rename() replaces the set file atomically: readers see the old or the new file, never
  // neither, so the old file is not removed first.
  if (!step_allowed("rename") || ::rename(path_set_dot->c_str(), path_set->c_str()) != 0) {
    CW_TRACE("", errno);
    ::unlink(path_set_dot->c_str());
    return false;
  }
  if (!sync_folder(*path_category)) {
    // The new set is in place; only its durability across a power cut is in doubt.
    CW_TRACE("", errno);
    return false;
  }
  set->modified = false;
  return true;
}

// ---------------------------------------------------------------- set names

bool propset_getname(const std::string& category, int n, std::optional<std::string>& name) {
  name.reset();
  auto path_category = get_category_path(category);
  if (!path_category) {
    CW_TRACE("path_category = get_category_path(category)", kInternalErrorNumber);
    return false;
  }
  DIR* dir = ::opendir(path_category->c_str());
  if (!dir) {
    if (errno == ENOENT) return true;  // a category nobody saved into yet has no sets
    CW_TRACE("path_category = get_category_path(category)", errno);
    return false;
  }
  int seen = 0;
  bool ok = true;
  while (struct dirent* d = ::readdir(dir)) {
    if (d->d_name[0] == '.') continue;
    std::string path_set = *path_category + "/" + d->d_name;
    struct stat st;
    if (::stat(path_set.c_str(), &st) != 0) {
      if (errno == ENOENT) continue;  // removed while we listed
      CW_TRACE("path_set = get_set_path(category, d->d_name)", errno);
      ok = false;
      break;
    }
    if (!S_ISREG(st.st_mode)) continue;
    if (seen++ == n) {
      name = d->d_name;
      break;
    }
  }
  ::closedir(dir);
  return ok;
}

int propset_count(const std::string& category) {
  int n = 0;
  std::optional<std::string> name;
  while (propset_getname(category, n, name) && name) ++n;
  return n;
}

}  // namespace cw
