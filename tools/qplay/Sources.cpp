// Sorting sources between the two engines and naming their result codes.
#include "Sources.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>

#include "qmid.h"
#include "qmod.h"

namespace qplay {

namespace {

std::string lowerExtension(const std::string& path) {
  auto slash = path.find_last_of('/');
  auto dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

}  // namespace

SourceKind classifySource(const std::string& source) {
  if (source.find("://") != std::string::npos) return SourceKind::Midi;
  std::ifstream in(source, std::ios::binary);
  char head[12] = {};
  if (!in || !in.read(head, sizeof head).gcount()) return SourceKind::Midi;
  if (std::memcmp(head, "MThd", 4) == 0) return SourceKind::Midi;
  if (std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "RMID", 4) == 0)
    return SourceKind::Midi;
  const std::string ext = lowerExtension(source);
  for (const char* midi : {"mid", "midi", "kar", "smf", "rmi"})
    if (ext == midi) return SourceKind::Midi;
  return SourceKind::Module;
}

std::string moduleTitle(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char head[1084] = {};
  const auto size = static_cast<std::size_t>(in.read(head, sizeof head).gcount());
  auto at = [&](std::size_t offset, const char* text) {
    const std::size_t n = std::strlen(text);
    return size >= offset + n && std::memcmp(head + offset, text, n) == 0;
  };
  std::size_t offset = 0, length = 0;
  if (at(0, "Extended Module: ")) {
    offset = 17, length = 20;
  } else if (at(0, "IMPM")) {
    offset = 4, length = 26;
  } else if (at(44, "SCRM")) {
    offset = 0, length = 28;
  } else if (size >= 1084) {  // 31-instrument MOD: a signature such as "M.K." or "8CHN" at 1080
    bool signature = true;
    for (int i = 1080; i < 1084; ++i) signature = signature && std::isgraph(static_cast<unsigned char>(head[i]));
    if (signature) offset = 0, length = 20;
  }
  std::string title(head + offset, strnlen(head + offset, length));
  while (!title.empty() && (title.back() == ' ' || static_cast<unsigned char>(title.back()) < 0x20)) title.pop_back();
  for (char& c : title)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return title;
}

std::string resultName(SourceKind kind, std::int32_t code) {
  struct Name {
    std::int32_t code;
    const char* name;
  };
  static const Name midiNames[] = {{QMID_ERR_NETWORK, "QMID_ERR_NETWORK"},
                                   {QMID_ERR_DEVICE, "QMID_ERR_DEVICE"},
                                   {QMID_ERR_TIMER, "QMID_ERR_TIMER"},
                                   {QMID_ERR_MEMORY, "QMID_ERR_MEMORY"},
                                   {QMID_ERR_OPEN, "QMID_ERR_OPEN"}};
  static const Name moduleNames[] = {{QMOD_ERR_INSTANCE, "QMOD_ERR_INSTANCE"},
                                     {QMOD_ERR_PLUGIN, "QMOD_ERR_PLUGIN"},
                                     {QMOD_ERR_LOAD, "QMOD_ERR_LOAD"},
                                     {QMOD_ERR_PLAY, "QMOD_ERR_PLAY"}};
  if (kind == SourceKind::Midi) {
    for (const Name& n : midiNames)
      if (n.code == code) return n.name;
  } else {
    for (const Name& n : moduleNames)
      if (n.code == code) return n.name;
  }
  if (code == 0) return kind == SourceKind::Midi ? "QMID_REFUSED" : "QMOD_REFUSED";
  return kind == SourceKind::Midi ? "QMID_UNKNOWN" : "QMOD_UNKNOWN";
}

}  // namespace qplay
