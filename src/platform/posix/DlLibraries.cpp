// Dynamic libraries through dlopen.
#include "DlLibraries.h"

#include <dlfcn.h>

#include <cctype>

namespace platform {

std::string nativeLibraryName(const std::string& bareName) {
  std::string stem = bareName;
  const std::string dll = ".dll";
  if (stem.size() > dll.size()) {
    std::string tail = stem.substr(stem.size() - dll.size());
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (tail == dll) stem.resize(stem.size() - dll.size());
  }
  return "lib" + stem + ".so";
}

namespace {

// The folder of the shared object (or program) that contains this function.
std::string ownFolder() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&ownFolder), &info) || !info.dli_fname) return std::string();
  std::string path = info.dli_fname;
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

LibraryHandle DlLibraries::load(const char* bareName) {
  if (!bareName || !*bareName) return nullptr;
  const std::string name = nativeLibraryName(bareName);
  const std::string folder = ownFolder();
  if (!folder.empty()) {
    if (void* library = dlopen((folder + name).c_str(), RTLD_NOW | RTLD_LOCAL)) return library;
  }
  return dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* DlLibraries::symbol(LibraryHandle library, const char* name) {
  return library && name ? dlsym(library, name) : nullptr;
}

void DlLibraries::free(LibraryHandle library) {
  if (library) dlclose(library);
}

}  // namespace platform
