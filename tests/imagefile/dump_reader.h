// A reader for the reader's tests that keeps its dump; each open starts a fresh dump.
#pragma once

#include <initializer_list>
#include <string>

#include "imagefile/tv_reader.h"

namespace cw::test {

struct DumpReader {
  TV_Reader r;
  std::string dump;
  DumpReader() { r.set_print(string_sink(dump)); }
  bool open(const std::string& bytes, const char* name, bool quick = false, bool macros = false) {
    dump.clear();
    return r.open_bytes(bytes, name, quick, macros);
  }
  // Why the read failed; "<read>" when it did not.
  std::string error(const std::string& bytes, const char* name, bool quick = false,
                    bool macros = false) {
    return open(bytes, name, quick, macros) ? "<read>" : r.message();
  }
  // The first macro value of each name, joined by "|"; "<none>" for a missing one.
  std::string values(std::initializer_list<const char*> names) const {
    std::string out;
    for (const char* name : names) {
      const MacroPair* p = r.image() ? r.image()->find_pair(name) : nullptr;
      out += (out.empty() ? "" : "|") + (p ? p->value : "<none>");
    }
    return out;
  }
};

}  // namespace cw::test
