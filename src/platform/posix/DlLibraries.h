// Dynamic libraries through dlopen: a bare name of the original platform ("npmod32.dll") maps
// to "libnpmod32.so", looked for first next to the library that holds this code, then by the
// system's ordinary search.
#pragma once

#include <string>

#include "Platform.h"

namespace platform {

class DlLibraries : public LibraryService {
 public:
  LibraryHandle load(const char* bareName) override;
  void* symbol(LibraryHandle library, const char* name) override;
  void free(LibraryHandle library) override;
};

// "npmod32.dll" -> "libnpmod32.so"; a name without ".dll" gets only the prefix and suffix.
std::string nativeLibraryName(const std::string& bareName);

}  // namespace platform
