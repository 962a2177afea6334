// Sleeping, memory hints and the label strings (UTF-8) for POSIX hosts.
#include "SystemServices.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "LargePages.h"

namespace platform {

void SystemSleepService::sleepMs(std::uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SystemMemoryService::adviseLargeBlock(void* block, std::size_t bytes) {
  common::adviseLargePages(block, bytes);
}

Language userLanguage() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (!value || !*value) continue;
    if (std::strncmp(value, "ja", 2) == 0) return Language::Japanese;
    if (std::strncmp(value, "ko", 2) == 0) return Language::Korean;
    return Language::English;
  }
  return Language::English;
}

namespace {

struct Label {
  std::uint32_t id;
  const char* english;
  const char* japanese;  // half-width katakana
  const char* korean;
};

const Label kLabels[] = {
    {2072, "Title", "\uFF80\uFF72\uFF84\uFF99", "\uACE1\uBA85"},
    {2079, "Copyright", "\uFF7A\uFF8B\uFF9F\uFF70\uFF97\uFF72\uFF84", "\uC800\uC791\uAD8C"},
    {2080, "Sequence", "\uFF7C\uFF70\uFF79\uFF9D\uFF7D", "\uC2DC\uD000\uC2A4"},
};

}  // namespace

std::string labelText(std::uint32_t id, Language language) {
  for (const Label& label : kLabels) {
    if (label.id != id) continue;
    switch (language) {
      case Language::Japanese: return label.japanese;
      case Language::Korean: return label.korean;
      default: return label.english;
    }
  }
  return std::string();
}

std::string LabelStringService::load(std::uint32_t id) { return labelText(id, userLanguage()); }

}  // namespace platform
