// System libraries that only some work needs (writing discs, talking to cameras, asking the
// desktop's disk manager), opened the first time that work comes instead of when the program
// starts. Loading them and the libraries they stand on costs every start of the program (a
// command that lists presets as much as an ingestion) a millisecond and a half, and a system
// without one of them can still ingest cards: only the work that needs it says it is missing.
//
// A user lists the functions it calls once, and gets a table of them with the types of the
// library's own header:
//
//   #define MY_FUNCTIONS(X) X(lib_open) X(lib_close)
//   CW_LIBRARY_TABLE(MyLibrary, MY_FUNCTIONS);
//   const MyLibrary* my = library_functions<MyLibrary>("libmy.so.1", error);
//   my->lib_open(...);
#pragma once

#include <memory>
#include <string>

namespace cw {

// An opened library. It is never closed: the functions taken from it may be kept anywhere.
class SharedLibrary {
 public:
  // Opens the library of that name (a soname, looked for where the system's loader looks).
  explicit SharedLibrary(const char* soname);
  bool loaded() const { return handle_ != nullptr; }
  // Why the library or one of its functions could not be had.
  const std::string& error() const { return error_; }

  // Takes the function called `name` into `function`; false, with error() naming it, when
  // the library has none by that name.
  template <class Function>
  bool take(const char* name, Function& function) {
    void* address = symbol(name);
    function = reinterpret_cast<Function>(address);
    return address != nullptr;
  }

 private:
  void* symbol(const char* name);

  void* handle_ = nullptr;
  std::string soname_;
  std::string error_;
};

#define CW_LIBRARY_FUNCTION(name) decltype(&::name) name = nullptr;
#define CW_LIBRARY_TAKE(name) &&library.take(#name, name)
// A struct `Table` holding the functions FUNCTIONS lists, able to take them all from a library.
#define CW_LIBRARY_TABLE(Table, FUNCTIONS)                                                     \
  struct Table {                                                                             \
    FUNCTIONS(CW_LIBRARY_FUNCTION)                                                           \
    bool take_all(SharedLibrary& library) { return true FUNCTIONS(CW_LIBRARY_TAKE); }        \
  }

// Opens `soname` and takes every function of `Table` from it (its take_all) the first time a
// table of that type is asked for; the same table after that, from any thread. Null when the
// library or one of the functions is missing: `error` then says which (the same each time).
template <class Table>
const Table* library_functions(const char* soname, std::string& error) {
  struct Loaded {
    std::unique_ptr<Table> table;
    std::string error;
  };
  static const Loaded loaded = [soname] {
    Loaded l;
    SharedLibrary library(soname);
    auto table = std::make_unique<Table>();
    if (library.loaded() && table->take_all(library))
      l.table = std::move(table);
    else
      l.error = library.error();
    return l;
  }();
  error = loaded.error;
  return loaded.table.get();
}

// The table of a library that library_functions has loaded already, as its caller knows.
template <class Table>
const Table& loaded_functions(const char* soname) {
  std::string error;
  return *library_functions<Table>(soname, error);
}

}  // namespace cw
