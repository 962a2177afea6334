// Songs given as URLs: the download thread that fetches the body, loads it into the engine and
// starts it, and the download's share of Play and of the unload.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "MidiEngine.h"

namespace qmid {

constexpr std::size_t kUrlField = 512;
constexpr std::size_t kReadBlock = 1024;
// No MIDI file comes near this; a larger body is given up as no body at all.
constexpr std::size_t kMaxBody = std::size_t{64} << 20;
constexpr const char* kAgent = "Quavix";

struct DownloadRequest {
  platform::WindowHandle window;
  char url[kUrlField];  // with its terminating zero
};

DownloadRequest& downloadRequest();
std::thread& downloadThread();
std::atomic<platform::InternetHandle>& downloadSession();

// Play's hand-off: QMID_LOADING once the thread runs, QMID_ERR_NETWORK when the URL does not
// fit its field or no thread could be created. The mode is MCI_MODE_OPEN before the thread
// can finish, and back at MCI_MODE_NOT_READY on failure.
std::int32_t startDownload(platform::WindowHandle window, const char* url);

// True from the hand-off until the thread is done with the song store and the sequencer.
// The exports that read or change them do nothing meanwhile.
bool downloadPending();

// Held by the thread across its load and start. Whoever stops the sequencer while a download
// may run holds it too, so that the stop and the cancel flag never land inside a load.
std::unique_lock<std::mutex> lockAgainstDownload();

// The unload's share, in two steps around the player's stop: first (holding the lock, right
// after the stop) mark a running download as cancelled; then close its session, if it has
// stored one, and wait for the thread.
void cancelDownload();
void joinDownload();

}  // namespace qmid
