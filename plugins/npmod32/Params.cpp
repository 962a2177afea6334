// Parses the instance parameters; the host's text is trusted to be short but not to be tidy.
#include "Params.h"

#include <strings.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace npmod32 {
namespace {

bool parseBool(const std::string& v, bool fallback) {
  for (const char* t : {"true", "yes", "on", "1"})
    if (strcasecmp(v.c_str(), t) == 0) return true;
  for (const char* f : {"false", "no", "off", "0"})
    if (strcasecmp(v.c_str(), f) == 0) return false;
  return fallback;
}

}  // namespace

Params parseParams(const char* text) {
  Params p;
  if (!text) return p;
  std::vector<std::string> fields;
  std::string cur;
  for (const char* c = text;; ++c) {
    if (*c == '|' || *c == '\0') {
      fields.push_back(cur);
      cur.clear();
      if (*c == '\0') break;
    } else {
      cur += *c;
    }
  }
  for (std::size_t i = 0; i + 1 < fields.size(); i += 2) {
    const std::string& name = fields[i];
    const std::string& value = fields[i + 1];
    if (strcasecmp(name.c_str(), "volume") == 0) {
      char* end = nullptr;
      const long v = std::strtol(value.c_str(), &end, 10);
      if (!value.empty() && end && *end == '\0')
        p.volume = v < 0 ? 0 : v > 100 ? 100 : static_cast<int>(v);
    } else if (strcasecmp(name.c_str(), "loop") == 0) {
      p.loop = parseBool(value, p.loop);
    } else if (strcasecmp(name.c_str(), "autostart") == 0) {
      p.autostart = parseBool(value, p.autostart);
    }
  }
  return p;
}

}  // namespace npmod32
