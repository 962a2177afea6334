// The settings store as INI files under the user's configuration folder. Every failure is
// reported by a result only: a store that cannot be written must never disturb a player.
#include "IniSettings.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace platform {

namespace {

// A settings file that big was not written here; it is left alone rather than read whole.
constexpr off_t kMaxFileSize = 1 << 20;
// A writer that holds the lock longer than this is stuck; the value is dropped instead.
constexpr auto kLockPatience = std::chrono::seconds(2);

struct IniKey {
  std::string section;  // the whole key path
  std::string file;
};

bool sameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string trimmed(const std::string& text) {
  const char* blanks = " \t\r";
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string configFolder() {
  // A relative XDG_CONFIG_HOME is invalid and ignored, as the base-directory rules say.
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.config";
  return std::string();
}

// The key path's components below the configuration folder, or none when one is unusable.
bool components(const char* keyPath, std::vector<std::string>& parts) {
  parts.clear();
  if (!keyPath) return false;
  std::string part;
  for (const char* c = keyPath;; ++c) {
    if (*c == '\\' || *c == '\0') {
      parts.push_back(part);
      part.clear();
      if (*c == '\0') break;
    } else {
      part += *c;
    }
  }
  if (sameText(parts.front(), "Software")) parts.erase(parts.begin());
  if (parts.empty()) return false;
  for (const std::string& p : parts) {
    if (p.empty() || p == "." || p == ".." || p.find('/') != std::string::npos) return false;
  }
  return true;
}

bool isFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// mkdir -p with private folders; true when every folder of path exists afterwards.
bool makeFolders(const std::string& path) {
  if (isFolder(path)) return true;
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  return isFolder(path);
}

std::string folderOf(const std::string& file) {
  return file.substr(0, file.rfind('/'));
}

std::string nameOf(const std::string& file) {
  return file.substr(file.rfind('/') + 1);
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool lockWithin(int fd) {
  const auto deadline = std::chrono::steady_clock::now() + kLockPatience;
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::milliseconds(16)) pause *= 2;
  }
}

// The whole file, an empty text when there is none; false when it cannot be read.
bool readWhole(const std::string& file, std::string& text, mode_t& mode) {
  text.clear();
  Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return errno == ENOENT;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxFileSize)
    return false;
  mode = info.st_mode & 07777;
  char block[4096];
  for (;;) {
    const ssize_t got = ::read(fd.get(), block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    text.append(block, static_cast<std::size_t>(got));
    if (text.size() > static_cast<std::size_t>(kMaxFileSize)) return false;
  }
}

bool writeWhole(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const auto end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

bool isSectionLine(const std::string& line) {
  const std::string t = trimmed(line);
  return t.size() >= 2 && t.front() == '[' && t.back() == ']';
}

bool isSection(const std::string& line, const std::string& section) {
  if (!isSectionLine(line)) return false;
  const std::string t = trimmed(line);
  return sameText(trimmed(t.substr(1, t.size() - 2)), section);
}

bool isValueLine(const std::string& line, const std::string& name) {
  const auto equals = line.find('=');
  return equals != std::string::npos && sameText(trimmed(line.substr(0, equals)), name);
}

std::string valueLine(const std::string& name, std::uint32_t value) {
  char data[16];
  std::snprintf(data, sizeof data, "%08x", static_cast<unsigned>(value));
  return name + "=dword:" + data;
}

// The file's text with the value set: replaced in place (later duplicates dropped), else
// added at the end of its section, else in a new section at the end.
std::string withValue(const std::string& text, const std::string& section, const std::string& name,
                      std::uint32_t value) {
  std::vector<std::string> lines = splitLines(text);
  const std::string line = valueLine(name, value);
  std::size_t header = 0;
  while (header < lines.size() && !isSection(lines[header], section)) ++header;
  if (header == lines.size()) {
    if (!lines.empty() && !trimmed(lines.back()).empty()) lines.emplace_back();
    lines.push_back("[" + section + "]");
    lines.push_back(line);
  } else {
    std::size_t end = header + 1;
    while (end < lines.size() && !isSectionLine(lines[end])) ++end;
    bool replaced = false;
    for (std::size_t i = header + 1; i < end;) {
      if (!isValueLine(lines[i], name)) {
        ++i;
      } else if (!replaced) {
        lines[i++] = line;
        replaced = true;
      } else {
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
        --end;
      }
    }
    if (!replaced) {
      std::size_t after = end;
      while (after > header + 1 && trimmed(lines[after - 1]).empty()) --after;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(after), line);
    }
  }
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

bool usableName(const char* name) {
  if (!name || !*name || name[0] == '[' || name[0] == ';' || name[0] == '#') return false;
  if (std::strpbrk(name, "=\r\n")) return false;
  return trimmed(name) == name;
}

// Sync the folder so that the rename itself survives a crash; a failure here loses nothing.
void syncFolder(const std::string& folder) {
  Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0) ::fsync(fd.get());
}

bool replaceValue(const IniKey& key, const std::string& name, std::uint32_t value) {
  const std::string folder = folderOf(key.file);
  const std::string base = nameOf(key.file);
  Fd lock(::open((folder + "/." + base + ".lock").c_str(),
                 O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (lock.get() < 0 || !lockWithin(lock.get())) return false;

  std::string text;
  mode_t mode = 0600;
  if (!readWhole(key.file, text, mode)) return false;
  const std::string updated = withValue(text, key.section, name, value);
  // Players write the same settings at every Open: an unchanged file costs no sync.
  if (updated == text) return true;

  std::string temporary = folder + "/." + base + ".XXXXXX";
  Fd out(::mkostemp(&temporary[0], O_CLOEXEC));
  if (out.get() < 0) return false;
  const bool written = ::fchmod(out.get(), mode) == 0 && writeWhole(out.get(), updated) &&
                       ::fsync(out.get()) == 0 && ::close(out.release()) == 0 &&
                       ::rename(temporary.c_str(), key.file.c_str()) == 0;
  if (!written) {
    ::unlink(temporary.c_str());
    return false;
  }
  syncFolder(folder);
  return true;  // the lock goes with its descriptor
}

}  // namespace

std::string iniSettingsFile(const char* keyPath) {
  try {
    std::vector<std::string> parts;
    if (!components(keyPath, parts)) return std::string();
    std::string file = configFolder();
    if (file.empty()) return file;
    for (const std::string& part : parts) file += "/" + part;
    return file + ".ini";
  } catch (...) {
    return std::string();
  }
}

SettingsKey IniSettings::createKey(const char* path) {
  try {
    const std::string file = iniSettingsFile(path);
    if (file.empty() || !makeFolders(folderOf(file))) return nullptr;
    return new IniKey{path, file};
  } catch (...) {
    return nullptr;
  }
}

bool IniSettings::setValue(SettingsKey key, const char* name, std::uint32_t value) {
  if (!key || !usableName(name)) return false;
  try {
    return replaceValue(*static_cast<IniKey*>(key), name, value);
  } catch (...) {
    return false;
  }
}

void IniSettings::closeKey(SettingsKey key) {
  delete static_cast<IniKey*>(key);
}

bool readIniSetting(const char* keyPath, const char* name, std::uint32_t& value) {
  if (!keyPath || !name) return false;
  try {
    const std::string file = iniSettingsFile(keyPath);
    std::string text;
    mode_t mode = 0;
    if (file.empty() || !readWhole(file, text, mode)) return false;
    bool inSection = false;
    for (const std::string& line : splitLines(text)) {
      if (isSectionLine(line)) {
        inSection = isSection(line, keyPath);
        continue;
      }
      if (!inSection || !isValueLine(line, name)) continue;
      const std::string data = trimmed(line.substr(line.find('=') + 1));
      const std::string tag = "dword:";
      if (data.size() <= tag.size() || data.size() > tag.size() + 8 ||
          !sameText(data.substr(0, tag.size()), tag))
        return false;
      const std::string digits = data.substr(tag.size());
      for (char c : digits) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
      }
      value = static_cast<std::uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
      return true;
    }
    return false;
  } catch (...) {
    return false;
  }
}

}  // namespace platform
