// Reads the plug-in's settings file; a missing or garbled line simply means the default.
#include "Settings.h"

#include <strings.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace npmod32 {
namespace {

const char kSection[] = "Software\\Hexmoor\\MOD Plugin";

std::string trim(const std::string& s) {
  const char* ws = " \t\r\n";
  const auto b = s.find_first_not_of(ws);
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

bool sameText(const std::string& a, const char* b) {
  return strcasecmp(a.c_str(), b) == 0;
}

std::optional<std::uint32_t> parseDword(const std::string& value) {
  const char prefix[] = "dword:";
  if (value.size() <= sizeof prefix - 1 ||
      strncasecmp(value.c_str(), prefix, sizeof prefix - 1) != 0)
    return std::nullopt;
  const std::string digits = value.substr(sizeof prefix - 1);
  if (digits.size() > 8) return std::nullopt;
  std::uint32_t v = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return std::nullopt;
    v = v << 4 | static_cast<std::uint32_t>(d);
  }
  return v;
}

}  // namespace

std::string settingsFilePath() {
  std::string base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  // A relative folder is ignored, as the writer of the file ignores it.
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return {};
    base = std::string(home) + "/.config";
  }
  return base + "/Hexmoor/MOD Plugin.ini";
}

std::optional<std::uint32_t> findSettingsValue(const std::string& text, const char* name) {
  std::istringstream in(text);
  std::string line;
  bool inSection = false;
  std::optional<std::uint32_t> found;
  while (std::getline(in, line)) {
    line = trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[') {
      inSection = line.back() == ']' && sameText(trim(line.substr(1, line.size() - 2)), kSection);
      continue;
    }
    if (!inSection) continue;
    const auto eq = line.find('=');
    if (eq == std::string::npos || !sameText(trim(line.substr(0, eq)), name)) continue;
    if (auto v = parseDword(trim(line.substr(eq + 1)))) found = v;  // the last line wins
  }
  return found;
}

Settings readSettings() {
  Settings s;
  const std::string path = settingsFilePath();
  if (path.empty()) return s;
  std::ifstream file(path, std::ios::binary);
  if (!file) return s;
  std::ostringstream buffer;
  buffer << file.rdbuf();
  const std::string text = buffer.str();
  if (auto rate = findSettingsValue(text, "Mixing_Rate"); rate && *rate >= 8000 && *rate <= 192000)
    s.mixingRate = *rate;
  if (auto packing = findSettingsValue(text, "Packing")) s.packing = *packing;
  if (auto quality = findSettingsValue(text, "Quality")) s.quality = *quality;
  return s;
}

}  // namespace npmod32
