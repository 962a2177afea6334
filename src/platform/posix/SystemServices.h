// Small POSIX backends: sleeping, and the compiled-in label strings in the user's language.
#pragma once

#include "Platform.h"

namespace platform {

class SystemSleepService : public SleepService {
 public:
  void sleepMs(std::uint32_t ms) override;
};

// Transparent huge pages where the kernel offers them.
class SystemMemoryService : public MemoryService {
 public:
  void adviseLargeBlock(void* block, std::size_t bytes) override;
};

// Languages of the label tables.
enum class Language { English, Japanese, Korean };

// The language that LC_ALL, LC_MESSAGES or LANG (the first one set) asks for.
Language userLanguage();

class LabelStringService : public StringService {
 public:
  std::string load(std::uint32_t id) override;
};

// The label with the given id in one language, or an empty text for an unknown id.
std::string labelText(std::uint32_t id, Language language);

}  // namespace platform
