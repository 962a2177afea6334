// The player loop: starting a source, reading its cues, polling the engine, taking keys, and
// showing it all as a screen or as one line per event.
#include "Player.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "Cues.h"
#include "Engines.h"
#include "LyricText.h"
#include "Screen.h"
#include "Sources.h"
#include "Terminal.h"
#include "qmid.h"

namespace qplay {

namespace {

constexpr int kFrameMs = 50;
constexpr std::int32_t kSeekStepMs = 5000;
constexpr int kTempoStepPercent = 5;
constexpr int kKeyLimit = 12;

// Texts in line mode: quoted, with what would break the line escaped.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (u < 0x20 || u == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", u);
      out += hex;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void printLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace

// What the loop knows about the source being played.
struct Player::Song {
  std::unique_ptr<SongEngine> engine;
  std::string source;
  std::int32_t callerId = 0;
  bool loading = false;  // a URL is downloading
  bool started = false;  // playing or paused
  std::int32_t baseTempo = 0;
  int tempoPercent = 100;
  std::string info;
  CueReader cues;
  KaraokeState karaoke;
  LyricDecoder decoder;
  std::string notice;
  std::string lastFrame;
  bool stopShown = false;  // the engine posts its stop cues at the end and again at Stop

  explicit Song(const std::string& charset) : decoder(charset) {}
};

Player::Player(const Options& options, QWinHandle window, Terminal* terminal)
    : options_(options), window_(window), terminal_(terminal) {}

void Player::report(const std::string& line, bool failure) {
  if (failure) failed_ = true;
  reports_.push_back(line);
  if (!terminal_) std::fprintf(stderr, "qplay: %s\n", line.c_str());
}

std::string Player::nextFallbackWav() {
  ++renderedFiles_;
  return renderedFiles_ == 1 ? "qplay-out.wav" : "qplay-out-" + std::to_string(renderedFiles_) + ".wav";
}

Player::Outcome Player::play(const std::string& source, int index, int total) {
  Song song(options_.charset);
  song.source = source;
  song.callerId = index + 1;
  song.tempoPercent = options_.tempoPercent;
  const SourceKind kind = classifySource(source);
  song.engine = makeEngine(kind);
  SongEngine& engine = *song.engine;
  const bool lines = terminal_ == nullptr;
  auto event = [&](const std::string& line) {
    if (lines) printLine(line);
  };
  // Messages left from an earlier song point into records that are gone: never read them.
  auto discardMessages = [&](bool keepStop) {
    QWinMessage message;
    while (QWin_Peek(window_, &message) == 1) {
      if (keepStop && message.message == MSG_KARAOKE && message.lParam == 0 && message.wParam == 0 &&
          !song.stopShown) {
        song.stopShown = true;
        event("stop");
      }
    }
  };
  auto fail = [&](std::int32_t code) {
    const std::string name = resultName(kind, code);
    event("error " + std::to_string(code) + " " + name);
    report(source + ": " + std::to_string(code) + " " + name, true);
    return Outcome::Failed;
  };

  discardMessages(false);
  event("play " + std::to_string(index + 1) + "/" + std::to_string(total) + " " + source);

  if (fallback_) {
    const std::string wav = "wav:" + nextFallbackWav();
    setenv("QMID_MIDI_OUT", wav.c_str(), 1);
    setenv("QMOD_AUDIO", wav.c_str(), 1);
  }
  std::int32_t result = engine.start(window_, source, song.callerId);
  if (result == engine.deviceFailure() && options_.out.empty() && !fallback_) {
    discardMessages(false);
    fallback_ = true;
    const std::string file = nextFallbackWav();
    const std::string wav = "wav:" + file;
    setenv("QMID_MIDI_OUT", wav.c_str(), 1);
    setenv("QMOD_AUDIO", wav.c_str(), 1);
    if (terminal_) terminal_->takeErrorLines();  // the engine's reason stays for the exit; ours shows
    song.notice = "no audio device could be opened: rendering to " + file + " instead";
    report(song.notice, false);
    result = engine.start(window_, source, song.callerId);
  } else if (fallback_ && (result == 1 || result == QMID_LOADING)) {
    song.notice = "rendering to " + std::string(std::getenv("QMID_MIDI_OUT") + 4);
    report(song.notice, false);
  }
  if (result == QMID_LOADING && kind == SourceKind::Midi) {
    song.loading = true;
    event("downloading");
  } else if (result != 1) {
    discardMessages(false);
    return fail(result);
  }

  auto onStarted = [&]() {
    song.started = true;
    song.info = song.decoder.decodeMixed(engine.info());
    if (!song.info.empty()) event("info " + quoted(song.info));
    if (engine.hasControls()) {
      song.baseTempo = engine.tempo();
      if (song.tempoPercent != 100)
        engine.setTempo(std::max(1, song.baseTempo * song.tempoPercent / 100));
    }
  };
  if (!song.loading) onStarted();

  auto handleCue = [&](const Cue& cue) {
    song.karaoke.apply(cue);
    switch (cue.kind) {
      case Cue::Start: event("start " + quoted(song.decoder.decode(cue.text))); break;
      case Cue::Line:
        event("line " + std::to_string(cue.line) + " " + quoted(song.decoder.decode(cue.text)) +
              (cue.leadIn ? " lead-in" : ""));
        break;
      case Cue::SeekLine:
        event("seek-line " + std::to_string(cue.line) + " " + quoted(song.decoder.decode(cue.text)));
        break;
      case Cue::Syllable:
        event("syllable " + std::to_string(cue.line) + " " + quoted(song.decoder.decode(cue.text)));
        break;
      case Cue::SeekSyllable:
        event("seek-syllable " + std::to_string(cue.line) + " " + quoted(song.decoder.decode(cue.text)));
        break;
      case Cue::Stop:
        if (!song.stopShown) event("stop");
        song.stopShown = true;
        break;
      case Cue::Other: break;
    }
  };
  // Reads what the engine posted; false when a download failed.
  std::int32_t downloadFailure = 0;
  auto readMessages = [&]() {
    QWinMessage message;
    while (QWin_Peek(window_, &message) == 1) {
      if (message.message == MSG_URL_LOADED) {
        if ((message.wParam >> 16) != (static_cast<std::uint32_t>(song.callerId) & 0xFFFF)) continue;
        if ((message.wParam & 0xFFFF) == 1) {
          song.loading = false;
          event("loaded");
          onStarted();
        } else {
          downloadFailure = static_cast<std::int32_t>(message.lParam);
          return false;
        }
      } else if (message.message == MSG_KARAOKE) {
        handleCue(song.cues.read(message));
      }
    }
    return true;
  };
  // Stops the song; the engine's last cues carry no records, so only the stop cue is read.
  auto finish = [&](Outcome outcome, const char* word) {
    if (!readMessages() && downloadFailure != 0) {
      engine.stop();
      discardMessages(false);
      return fail(downloadFailure);
    }
    engine.stop();
    discardMessages(lines);
    event(word);
    return outcome;
  };

  auto draw = [&](bool force) {
    if (!terminal_) return;
    Frame frame;
    frame.heading = "qplay \xC2\xB7 " + std::to_string(index + 1) + "/" + std::to_string(total) + " \xC2\xB7 " +
                    song.decoder.decode(source);
    frame.title = song.decoder.decode(song.karaoke.title);
    if (frame.title.empty()) {
      const auto slash = source.find_last_of('/');
      frame.title = song.decoder.decode(slash == std::string::npos ? source : source.substr(slash + 1));
    }
    frame.info = song.info;
    const KaraokeState& k = song.karaoke;
    frame.karaoke = k.current > 0 || k.next > 0;
    frame.sung = song.decoder.decode(k.currentText.substr(0, k.sung));
    frame.unsung = song.decoder.decode(k.currentText.substr(k.sung));
    frame.next = song.decoder.decode(k.nextText);
    const std::int32_t mode = song.loading ? MCI_MODE_OPEN : engine.mode();
    frame.state = song.loading ? "downloading" : mode == MCI_MODE_PAUSE ? "\xE2\x8F\xB8 paused" : "\xE2\x96\xB6 playing";
    frame.length = song.loading ? 0 : engine.length();
    frame.position = song.loading ? 0 : engine.position();
    frame.meter = engine.hasControls();
    if (frame.meter && !song.loading) engine.spectrum(frame.bands);
    if (engine.hasControls() && song.started) {
      const std::int32_t key = engine.key();
      frame.controls = "tempo " + std::to_string(engine.tempo()) + " bpm (" + std::to_string(song.tempoPercent) +
                       " %)   key " + (key > 0 ? "+" : "") + std::to_string(key);
    }
    frame.notice = song.notice;
    std::string text = renderFrame(frame, terminal_->columns(), terminal_->rows());
    if (force) text = "\x1b[2J" + text;
    if (!force && text == song.lastFrame) return;
    song.lastFrame = text;
    ssize_t ignored = write(STDOUT_FILENO, text.data(), text.size());
    (void)ignored;
  };

  auto onKey = [&](Key key) -> bool {  // false: leave the song
    if (key == Key::Quit || key == Key::Next) return false;
    if (!song.started) return true;
    const std::int32_t mode = engine.mode();
    switch (key) {
      case Key::PauseResume:
        if (mode == MCI_MODE_PLAY) engine.pause();
        else if (mode == MCI_MODE_PAUSE) engine.resume();
        break;
      case Key::SeekBack:
      case Key::SeekForward: {
        const std::int32_t length = engine.length();
        const std::int32_t from = std::min(engine.position(), length);
        const std::int32_t step = key == Key::SeekForward ? kSeekStepMs : -kSeekStepMs;
        engine.seek(std::clamp(from + step, 0, std::max(length, 0)));
        if (mode == MCI_MODE_PAUSE && engine.mode() == MCI_MODE_PLAY) engine.pause();  // stay paused
        break;
      }
      case Key::TempoUp:
      case Key::TempoDown:
        if (!engine.hasControls() || song.baseTempo <= 0) break;
        song.tempoPercent = std::clamp(song.tempoPercent + (key == Key::TempoUp ? kTempoStepPercent : -kTempoStepPercent), 10, 400);
        engine.setTempo(std::max(1, song.baseTempo * song.tempoPercent / 100));
        break;
      case Key::KeyUp:
      case Key::KeyDown:
        if (!engine.hasControls()) break;
        engine.setKey(std::clamp(engine.key() + (key == Key::KeyUp ? 1 : -1), -kKeyLimit, kKeyLimit));
        break;
      default:
        break;
    }
    return true;
  };

  draw(true);
  std::string pendingKeys;
  Key leaving = Key::PauseResume;
  for (;;) {
    struct pollfd fds[4] = {{QWin_EventFd(window_), POLLIN, 0},
                            {signalWakeFd(), POLLIN, 0},
                            {terminal_ ? STDIN_FILENO : -1, POLLIN, 0},
                            {terminal_ ? terminal_->errorFd() : -1, POLLIN, 0}};
    if (poll(fds, 4, kFrameMs) < 0 && errno != EINTR) break;
    if (terminal_) {
      for (const std::string& line : terminal_->takeErrorLines()) song.notice = line;
    }
    if (const int signal = pendingSignal()) {
      killed_ = signal != SIGINT;
      if (killed_) report("ended by signal " + std::to_string(signal), true);
      return finish(Outcome::Quit, "quit");
    }
    if (terminal_ && (fds[2].revents & POLLIN)) {
      char bytes[64];
      const ssize_t n = read(STDIN_FILENO, bytes, sizeof bytes);
      if (n > 0) pendingKeys.append(bytes, static_cast<std::size_t>(n));
      bool stay = true;
      for (Key key : takeKeys(pendingKeys)) {
        if (!onKey(key)) {
          leaving = key;
          stay = false;
          break;
        }
      }
      if (!stay) return leaving == Key::Quit ? finish(Outcome::Quit, "quit") : finish(Outcome::Skipped, "skip");
    }
    if (!readMessages()) {
      engine.stop();
      discardMessages(false);
      return fail(downloadFailure);
    }
    if (song.started && engine.mode() == MCI_MODE_STOP) return finish(Outcome::Ended, "end");
    if (song.started && engine.mode() == MCI_MODE_NOT_READY) {  // unloaded behind our back
      discardMessages(false);
      event("end");
      return Outcome::Ended;
    }
    draw(windowResized());
  }
  return finish(Outcome::Quit, "quit");
}

}  // namespace qplay
