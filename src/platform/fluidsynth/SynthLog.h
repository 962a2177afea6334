// Where the synthesizer's log goes: errors during an open become its reason, errors while
// playing become one "qmid: " line each, warnings and chatter go nowhere.
#pragma once

#include <string>

namespace synth {

// Routes the synthesizer's log to our handler; idempotent.
void installLogHandler();

// An error from another library: kept by this thread's capture, dropped if there is none.
void captureError(const char* message);

// While alive, errors logged on this thread are kept here instead of being printed.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // The first error since the capture began or was last cleared: usually the cause, where
  // later ones only repeat that something failed.
  const std::string& first() const { return first_; }
  void clear() { first_.clear(); }
  void add(const char* message);

 private:
  LogCapture* previous_;
  std::string first_;
};

// While alive, GLib warnings and criticals of no domain go to this thread's capture: the
// library that reads DLS instruments reports through them when it is handed a broken SoundFont.
// Other threads' messages still reach GLib's default handler.
class GlibLogCapture {
 public:
  GlibLogCapture();
  ~GlibLogCapture();
  GlibLogCapture(const GlibLogCapture&) = delete;
  GlibLogCapture& operator=(const GlibLogCapture&) = delete;

 private:
  unsigned id_ = 0;
};

}  // namespace synth
