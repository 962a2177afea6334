// Terminal modes, key decoding and signal handling for qplay's screen.
#include "Terminal.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace qplay {

namespace {

// Read by the signal handlers, so plain static storage set before the handlers can run.
struct termios savedMode;
volatile sig_atomic_t modeSaved = 0;
volatile sig_atomic_t screenUp = 0;
volatile sig_atomic_t lastSignal = 0;
volatile sig_atomic_t resized = 0;
volatile sig_atomic_t savedStderr = -1;  // the real standard error while it is captured
int wakePipe[2] = {-1, -1};

// Switches to the alternate screen, hides the cursor and clears; and back, colours reset.
constexpr char kEnterScreen[] = "\x1b[?1049h\x1b[?25l\x1b[2J";
constexpr char kRestoreScreen[] = "\x1b[0m\x1b[?25h\x1b[?1049l";

// The screen and the key modes, as the shell had them.
void restoreScreenAndModes() {
  if (screenUp) {
    ssize_t ignored = write(STDOUT_FILENO, kRestoreScreen, sizeof kRestoreScreen - 1);
    (void)ignored;
    screenUp = 0;
  }
  if (modeSaved) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedMode);
    modeSaved = 0;
  }
}

// Everything, standard error included: on the way out.
void restoreTerminal() {
  if (savedStderr >= 0) {
    dup2(savedStderr, STDERR_FILENO);
    close(savedStderr);
    savedStderr = -1;
  }
  restoreScreenAndModes();
}

void onEndSignal(int signal) {
  lastSignal = signal;
  const char byte = 1;
  ssize_t ignored = write(wakePipe[1], &byte, 1);
  (void)ignored;
}

void onResize(int) { resized = 1; }

struct sigaction crashActions[NSIG];

// Hands the crash on to whoever handled it before (a sanitizer's report, or the default): a
// fault happens again when the handler returns; an abort is raised again.
void onCrash(int signal) {
  restoreTerminal();
  sigaction(signal, &crashActions[signal], nullptr);
  if (signal == SIGABRT) raise(signal);
}

// Ctrl-Z: give the terminal back while stopped, take it again on return.
void onSuspend(int) {
  const bool wasUp = screenUp;
  struct termios raw;
  const bool hadMode = modeSaved && tcgetattr(STDIN_FILENO, &raw) == 0;
  restoreScreenAndModes();  // standard error stays captured: the screen comes back
  // Stop for real: the default action, with the signal unblocked (a handler runs with its own
  // signal blocked, so a raise() here would only come back to this handler).
  ::signal(SIGTSTP, SIG_DFL);
  sigset_t tstp;
  sigemptyset(&tstp);
  sigaddset(&tstp, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &tstp, nullptr);
  raise(SIGTSTP);
  // Running again (SIGCONT).
  ::signal(SIGTSTP, onSuspend);
  if (hadMode) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw);
    modeSaved = 1;
  }
  if (wasUp) {
    ssize_t ignored = write(STDOUT_FILENO, kEnterScreen, sizeof kEnterScreen - 1);
    (void)ignored;
    screenUp = 1;
    resized = 1;  // redraw everything
  }
}

}  // namespace

std::vector<Key> takeKeys(std::string& pending) {
  std::vector<Key> keys;
  std::size_t i = 0;
  while (i < pending.size()) {
    const char c = pending[i];
    if (c == '\x1b') {
      if (i + 1 >= pending.size()) break;  // more may follow
      const char introducer = pending[i + 1];
      if (introducer != '[' && introducer != 'O') {
        ++i;  // a lone escape
        continue;
      }
      std::size_t j = i + 2;
      while (j < pending.size() && static_cast<unsigned char>(pending[j]) < 0x40) ++j;
      if (j >= pending.size()) break;  // cut short
      switch (pending[j]) {
        case 'A': keys.push_back(Key::TempoUp); break;
        case 'B': keys.push_back(Key::TempoDown); break;
        case 'C': keys.push_back(Key::SeekForward); break;
        case 'D': keys.push_back(Key::SeekBack); break;
        default: break;
      }
      i = j + 1;
      continue;
    }
    switch (c) {
      case ' ': keys.push_back(Key::PauseResume); break;
      case '+': case '=': keys.push_back(Key::TempoUp); break;
      case '-': case '_': keys.push_back(Key::TempoDown); break;
      case '[': keys.push_back(Key::KeyDown); break;
      case ']': keys.push_back(Key::KeyUp); break;
      case 'n': case 'N': keys.push_back(Key::Next); break;
      case 'q': case 'Q': case '\x03': keys.push_back(Key::Quit); break;
      default: break;
    }
    ++i;
  }
  pending.erase(0, i);
  return keys;
}

bool Terminal::enter() {
  if (entered_) return true;
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) return false;
  struct termios mode;
  if (tcgetattr(STDIN_FILENO, &mode) != 0) return false;
  savedMode = mode;
  modeSaved = 1;
  // Keys one at a time and unechoed; signals stay on so Ctrl-C still reaches the handler.
  mode.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  mode.c_cc[VMIN] = 0;
  mode.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &mode) != 0) {
    modeSaved = 0;
    return false;
  }
  ssize_t ignored = write(STDOUT_FILENO, kEnterScreen, sizeof kEnterScreen - 1);
  (void)ignored;
  screenUp = 1;
  entered_ = true;
  if (pipe2(errorPipe_, O_CLOEXEC | O_NONBLOCK) == 0) {
    const int saved = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (saved >= 0 && dup2(errorPipe_[1], STDERR_FILENO) >= 0) {
      savedStderr = saved;
    } else {
      if (saved >= 0) close(saved);
      releaseErrors();
    }
  }
  return true;
}

void Terminal::leave() {
  if (!entered_) return;
  takeErrorLines();  // collect what is still in the pipe
  restoreTerminal();
  entered_ = false;
  if (!errorText_.empty()) {
    ssize_t ignored = write(STDERR_FILENO, errorText_.data(), errorText_.size());
    (void)ignored;
  }
  releaseErrors();
}

void Terminal::releaseErrors() {
  for (int& fd : errorPipe_) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

std::vector<std::string> Terminal::takeErrorLines() {
  std::vector<std::string> lines;
  if (errorPipe_[0] < 0) return lines;
  char bytes[4096];
  ssize_t n;
  while ((n = read(errorPipe_[0], bytes, sizeof bytes)) > 0) errorText_.append(bytes, static_cast<std::size_t>(n));
  std::size_t end;
  while ((end = errorText_.find('\n', errorShown_)) != std::string::npos) {
    lines.push_back(errorText_.substr(errorShown_, end - errorShown_));
    errorShown_ = end + 1;
  }
  return lines;
}

int Terminal::columns() const {
  struct winsize size;
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

int Terminal::rows() const {
  struct winsize size;
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0) return size.ws_row;
  return 24;
}

void installSignalHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  if (wakePipe[0] < 0 && pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) wakePipe[0] = -1;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  sigemptyset(&action.sa_mask);
  action.sa_handler = onEndSignal;
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
  action.sa_handler = onResize;
  action.sa_flags = SA_RESTART;
  sigaction(SIGWINCH, &action, nullptr);
  action.sa_handler = onSuspend;
  sigaction(SIGTSTP, &action, nullptr);
  action.sa_handler = onCrash;
  action.sa_flags = 0;
  for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) sigaction(s, &action, &crashActions[s]);
}

int signalWakeFd() { return wakePipe[0]; }

int pendingSignal() { return lastSignal; }

bool windowResized() {
  if (!resized) return false;
  resized = 0;
  return true;
}

}  // namespace qplay
