// The terminal while qplay's screen is up: single key presses without echo, the alternate screen,
// and putting everything back on every way out, signals and crashes included.
#pragma once

#include <string>
#include <vector>

namespace qplay {

enum class Key { PauseResume, SeekBack, SeekForward, TempoUp, TempoDown, KeyDown, KeyUp, Next, Quit };

// Takes the complete key presses from the front of `pending` (bytes read from the terminal) and
// leaves an escape sequence that was cut short for the next read. Unknown keys are dropped.
std::vector<Key> takeKeys(std::string& pending);

class Terminal {
 public:
  Terminal() = default;
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;
  ~Terminal() { leave(); }

  // False when standard input or output is not a terminal, or its mode cannot be set. While
  // the screen is up, what the process writes to standard error (the engines' one-line reports)
  // is held back, so that it does not tear the screen, and written out by leave().
  bool enter();
  void leave();  // harmless when not entered
  // Readable when something was written to standard error; -1 when not captured.
  int errorFd() const { return errorPipe_[0]; }
  // The complete lines written to standard error since the last call (also kept for leave()).
  std::vector<std::string> takeErrorLines();
  // Columns and rows, or 80 x 24 when the terminal does not say.
  int columns() const;
  int rows() const;

 private:
  void releaseErrors();

  bool entered_ = false;
  int errorPipe_[2] = {-1, -1};
  std::string errorText_;   // everything captured, written out at leave()
  std::size_t errorShown_ = 0;  // how much of it takeErrorLines() has returned
};

// SIGINT, SIGTERM and SIGHUP end the player in an orderly way: the handler only notes the
// signal and wakes the event loop through a pipe. Crash signals put the terminal back and then
// end the process as they would have.
void installSignalHandlers();
int signalWakeFd();      // readable once a signal arrived
int pendingSignal();     // the signal that arrived, or 0
bool windowResized();    // true once after each SIGWINCH

}  // namespace qplay
