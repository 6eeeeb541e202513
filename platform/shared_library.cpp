#include "platform/shared_library.h"

#include <dlfcn.h>

namespace cw {

SharedLibrary::SharedLibrary(const char* soname) : soname_(soname) {
  // Local: the library's names do not become candidates for anything loaded after it.
  handle_ = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* why = ::dlerror();
    error_ = "can't load " + soname_ + (why ? std::string(": ") + why : std::string());
  }
}

void* SharedLibrary::symbol(const char* name) {
  if (!handle_) return nullptr;
  ::dlerror();
  void* address = ::dlsym(handle_, name);
  if (!address) error_ = soname_ + " has no function " + name;
  return address;
}

}  // namespace cw
