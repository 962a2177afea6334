// The synthesizer's log handler.
#include "SynthLog.h"

#include <fluidsynth.h>
#ifdef QMID_HAVE_GLIB
#include <glib.h>
#endif

#include <cstdio>
#include <mutex>

namespace synth {

namespace {

thread_local LogCapture* tCapture = nullptr;

void handle(int level, const char* message, void*) {
  // Polyphony, priority and driver notices are routine; only failures matter.
  if (level != FLUID_PANIC && level != FLUID_ERR) return;
  if (!message) return;
  if (tCapture) {
    tCapture->add(message);
    return;
  }
  // Never destroyed: the audio thread may log while the process exits.
  static auto* mutex = new std::mutex;
  static auto* last = new std::string;
  std::lock_guard<std::mutex> lock(*mutex);
  // A failing audio stream may report the same thing on every period.
  if (*last == message) return;
  *last = message;
  std::fprintf(stderr, "qmid: synthesizer: %s\n", message);
}

#ifdef QMID_HAVE_GLIB
void handleGlib(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
  if (tCapture && message) {
    tCapture->add(message);
    return;
  }
  g_log_default_handler(domain, level, message, nullptr);
}
#endif

}  // namespace

#ifdef QMID_HAVE_GLIB
GlibLogCapture::GlibLogCapture()
    : id_(g_log_set_handler(nullptr,
                            static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING),
                            &handleGlib, nullptr)) {}

GlibLogCapture::~GlibLogCapture() { g_log_remove_handler(nullptr, id_); }
#else
GlibLogCapture::GlibLogCapture() = default;
GlibLogCapture::~GlibLogCapture() = default;
#endif

void installLogHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int level = FLUID_PANIC; level <= FLUID_DBG; ++level)
      fluid_set_log_function(level, &handle, nullptr);
  });
}

void captureError(const char* message) {
  if (tCapture && message) tCapture->add(message);
}

LogCapture::LogCapture() : previous_(tCapture) { tCapture = this; }

LogCapture::~LogCapture() { tCapture = previous_; }

void LogCapture::add(const char* message) {
  if (first_.empty()) first_ = message;
}

}  // namespace synth
