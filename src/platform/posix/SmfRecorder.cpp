// Records the messages sent to the output into a Standard MIDI File.
#include "SmfRecorder.h"

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

void putVarLen(std::vector<std::uint8_t>& out, std::uint32_t value) {
  std::uint8_t bytes[5];
  int n = 0;
  bytes[n++] = value & 0x7F;
  while (value >>= 7) bytes[n++] = 0x80 | (value & 0x7F);
  while (n > 0) out.push_back(bytes[--n]);
}

// Byte by byte: inserting an initializer list trips a false overflow warning of GCC 12 at -O3.
void putBytes(std::vector<std::uint8_t>& out, std::initializer_list<std::uint8_t> bytes) {
  for (std::uint8_t b : bytes) out.push_back(b);
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// Data bytes that follow a status byte on the wire.
int dataBytes(std::uint8_t status) {
  switch (status & 0xF0) {
    case 0xC0: case 0xD0: return 1;
    case 0xF0:
      if (status == 0xF2) return 2;
      if (status == 0xF1 || status == 0xF3) return 1;
      return status == 0xF0 ? 2 : 0;
    default: return 2;
  }
}

}  // namespace

std::unique_ptr<MidiOutput> SmfRecorder::open(const std::string& path, std::string& why) {
  if (path.empty()) {
    why = "the smf output needs a file: QMID_MIDI_OUT=smf:PATH";
    return nullptr;
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    why = "cannot write " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<MidiOutput>(new SmfRecorder(file));
}

SmfRecorder::SmfRecorder(std::FILE* file) : file_(file), opened_(std::chrono::steady_clock::now()) {
  putBytes(track_, {0x00, 0xFF, 0x51, 0x03});
  putBytes(track_, {static_cast<std::uint8_t>(kTempo >> 16),
                               static_cast<std::uint8_t>(kTempo >> 8),
                               static_cast<std::uint8_t>(kTempo)});
}

SmfRecorder::~SmfRecorder() {
  std::vector<std::uint8_t> out = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1,
                                   kDivision >> 8, kDivision & 0xFF, 'M', 'T', 'r', 'k'};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stamp();
    putBytes(track_, {0xFF, 0x2F, 0x00});
    put32(out, static_cast<std::uint32_t>(track_.size()));
    out.insert(out.end(), track_.begin(), track_.end());
  }
  std::fwrite(out.data(), 1, out.size(), file_);
  std::fclose(file_);
}

void SmfRecorder::stamp() {
  auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - opened_);
  const std::uint32_t tick = static_cast<std::uint32_t>(elapsed.count());
  putVarLen(track_, tick - lastTick_);
  lastTick_ = tick;
}

void SmfRecorder::shortMessage(std::uint32_t message) {
  const std::uint8_t status = message & 0xFF;
  std::lock_guard<std::mutex> lock(mutex_);
  stamp();
  const int count = dataBytes(status);
  if (status == 0xF0) {
    // A two-byte exclusive message that the song stored as a short record.
    putBytes(track_, {0xF0, 0x02, static_cast<std::uint8_t>(message >> 8),
                                 static_cast<std::uint8_t>(message >> 16)});
    return;
  }
  if (status >= 0xF1) {
    // Other system messages can only stand in a file as escaped bytes.
    track_.push_back(0xF7);
    putVarLen(track_, static_cast<std::uint32_t>(1 + count));
  }
  track_.push_back(status);
  for (int i = 0; i < count; ++i) track_.push_back(static_cast<std::uint8_t>(message >> (8 * (i + 1))));
}

void SmfRecorder::longMessage(const std::uint8_t* bytes, std::size_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  stamp();
  // In a file the F0 is the event's status and the length counts the bytes after it.
  const bool framed = count > 0 && bytes[0] == 0xF0;
  track_.push_back(0xF0);
  const std::size_t body = framed ? count - 1 : count;
  putVarLen(track_, static_cast<std::uint32_t>(body));
  track_.insert(track_.end(), bytes + (framed ? 1 : 0), bytes + count);
}

void SmfRecorder::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  stamp();
  // A marker, so that a reader of the recording sees where the port was silenced.
  putBytes(track_, {0xFF, 0x06, 0x05, 'r', 'e', 's', 'e', 't'});
}

}  // namespace platform
