// The one-line information text: labelled title, copyright and track names.
#include <cstring>
#include <string>

#include "MidiEngine.h"

namespace qmid {

namespace {

constexpr std::uint32_t kTitleLabel = 2072;
constexpr std::uint32_t kCopyrightLabel = 2079;
constexpr std::uint32_t kSequenceLabel = 2080;

// Appends ", label : text" when it fits in size - 2 characters; empty texts add nothing.
void addItem(char* buffer, std::int32_t size, const char* text, std::uint32_t labelId) {
  std::string item(text);
  while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.pop_back();
  if (item.empty()) return;
  std::string addition;
  const std::size_t used = std::strlen(buffer);
  if (used > 0) addition = ", ";
  if (labelId != 0) {
    const std::string label = platform::services().strings->load(labelId);
    if (!label.empty()) addition += label + " : ";
  }
  addition += item;
  if (static_cast<std::int64_t>(used + addition.size()) >= static_cast<std::int64_t>(size) - 1)
    return;
  std::memcpy(buffer + used, addition.c_str(), addition.size() + 1);
}

}  // namespace

std::int32_t fileInfo(const MidiEngine& e, bool songLoaded, char* buffer, std::int32_t size) {
  if (!buffer || size < 1) return 0;
  buffer[0] = 0;
  if (!songLoaded) return 0;
  addItem(buffer, size, e.title, kTitleLabel);
  addItem(buffer, size, e.copyright, kCopyrightLabel);
  std::uint32_t label = kSequenceLabel;
  const std::int32_t names = e.trackNameCount < kTrackNames ? e.trackNameCount : kTrackNames;
  for (std::int32_t k = 1; k <= names; ++k) {
    const char* name = e.trackNames[k - 1];
    if (!name[0]) continue;
    // A line that does not fit 255 bytes is cut there.
    std::string line = "[" + std::to_string(k) + "]" + name;
    if (line.size() > kTextSize - 1) line.resize(kTextSize - 1);
    addItem(buffer, size, line.c_str(), label);
    label = 0;
  }
  for (char* p = buffer; *p; ++p)
    if (*p == '\n') *p = ' ';
  return 1;
}

}  // namespace qmid
