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

void setOutputs(const std::string& device) {
  setenv("QMID_MIDI_OUT", device.c_str(), 1);
  setenv("QMOD_AUDIO", device.c_str(), 1);
}

}  // namespace

// One source from start to end: what the loop knows about it and what it does with it.
class Player::Song {
 public:
  Song(Player& player, const std::string& source, int index, int total)
      : player_(player),
        source_(source),
        index_(index),
        total_(total),
        kind_(classifySource(source)),
        engine_(makeEngine(kind_)),
        decoder_(player.options_.charset),
        tempoPercent_(player.options_.tempoPercent) {}

  Outcome play();

 private:
  friend class Player;
  bool lineMode() const { return player_.terminal_ == nullptr; }
  void event(const std::string& line);
  Outcome fail(std::int32_t code);
  void discardMessages(bool showStop);
  void onStarted();
  void onCue(const Cue& cue);
  bool readMessages();
  Outcome finish(Outcome outcome, const char* word);
  bool onKey(Key key);
  void draw(bool force);

  Player& player_;
  const std::string source_;
  const int index_;
  const int total_;
  const SourceKind kind_;
  std::unique_ptr<SongEngine> engine_;
  LyricDecoder decoder_;
  bool loading_ = false;  // a URL is downloading
  bool started_ = false;  // playing or paused
  std::int32_t downloadFailure_ = 0;
  std::int32_t baseTempo_ = 0;
  int tempoPercent_;
  std::string info_;
  std::string moduleTitle_;
  CueReader cues_;
  KaraokeState karaoke_;
  std::string notice_;
  std::string lastFrame_;
  bool stopShown_ = false;  // the engine posts its stop cues at the end and again at Stop
};

void Player::Song::event(const std::string& line) {
  if (!lineMode()) return;
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

Player::Outcome Player::Song::fail(std::int32_t code) {
  const std::string name = resultName(kind_, code);
  event("error " + std::to_string(code) + " " + name);
  player_.report(source_ + ": " + std::to_string(code) + " " + name, true);
  return Outcome::Failed;
}

// Messages left after a Stop may point into records that are gone: they are never read.
void Player::Song::discardMessages(bool showStop) {
  QWinMessage message;
  while (QWin_Peek(player_.window_, &message) == 1) {
    const bool stopCue = message.message == MSG_KARAOKE && message.lParam == 0 && message.wParam == 0;
    if (showStop && stopCue && !stopShown_) {
      stopShown_ = true;
      event("stop");
    }
  }
}

void Player::Song::onStarted() {
  started_ = true;
  info_ = decoder_.decodeMixed(engine_->info());
  if (!info_.empty()) event("info " + quoted(info_));
  if (kind_ == SourceKind::Module) {
    moduleTitle_ = moduleTitle(source_);
    if (!moduleTitle_.empty()) event("title " + quoted(decoder_.decode(moduleTitle_)));
  }
  if (engine_->hasControls()) {
    baseTempo_ = engine_->tempo();
    if (tempoPercent_ != 100) engine_->setTempo(std::max(1, baseTempo_ * tempoPercent_ / 100));
  }
}

void Player::Song::onCue(const Cue& cue) {
  karaoke_.apply(cue);
  const std::string number = std::to_string(cue.line) + " ";
  switch (cue.kind) {
    case Cue::Start: event("start " + quoted(decoder_.decode(cue.text))); break;
    case Cue::Line:
      event("line " + number + quoted(decoder_.decode(cue.text)) + (cue.leadIn ? " lead-in" : ""));
      break;
    case Cue::SeekLine: event("seek-line " + number + quoted(decoder_.decode(cue.text))); break;
    case Cue::Syllable: event("syllable " + number + quoted(decoder_.decode(cue.text))); break;
    case Cue::SeekSyllable: event("seek-syllable " + number + quoted(decoder_.decode(cue.text))); break;
    case Cue::Stop:
      if (!stopShown_) event("stop");
      stopShown_ = true;
      break;
    case Cue::Other: break;
  }
}

// Reads what the engine posted; false when the download failed (downloadFailure_ says how).
bool Player::Song::readMessages() {
  QWinMessage message;
  while (QWin_Peek(player_.window_, &message) == 1) {
    if (message.message == MSG_URL_LOADED) {
      if ((message.wParam >> 16) != (static_cast<std::uint32_t>(index_ + 1) & 0xFFFF)) continue;
      if ((message.wParam & 0xFFFF) != 1) {
        downloadFailure_ = static_cast<std::int32_t>(message.lParam);
        return false;
      }
      loading_ = false;
      event("loaded");
      onStarted();
    } else if (message.message == MSG_KARAOKE) {
      onCue(cues_.read(message));
    }
  }
  return true;
}

// Takes the cues that are still valid, then stops the song; only its stop cue is read after.
Player::Outcome Player::Song::finish(Outcome outcome, const char* word) {
  const bool downloaded = readMessages();
  engine_->stop();
  discardMessages(downloaded);
  if (!downloaded) return fail(downloadFailure_);
  event(word);
  return outcome;
}

bool Player::Song::onKey(Key key) {  // false: leave the song
  if (key == Key::Quit || key == Key::Next) return false;
  if (!started_) return true;
  SongEngine& engine = *engine_;
  const std::int32_t mode = engine.mode();
  switch (key) {
    case Key::PauseResume:
      if (mode == MCI_MODE_PLAY) engine.pause();
      else if (mode == MCI_MODE_PAUSE) engine.resume();
      break;
    case Key::SeekBack:
    case Key::SeekForward: {
      const std::int32_t length = std::max(engine.length(), 0);
      const std::int32_t from = std::min(engine.position(), length);
      const std::int32_t step = key == Key::SeekForward ? kSeekStepMs : -kSeekStepMs;
      engine.seek(std::clamp(from + step, 0, length));
      // The MIDI engine plays on after a seek; the listener had paused.
      if (mode == MCI_MODE_PAUSE && engine.mode() == MCI_MODE_PLAY) engine.pause();
      break;
    }
    case Key::TempoUp:
    case Key::TempoDown:
      if (!engine.hasControls() || baseTempo_ <= 0) break;
      tempoPercent_ += key == Key::TempoUp ? kTempoStepPercent : -kTempoStepPercent;
      tempoPercent_ = std::clamp(tempoPercent_, 10, 400);
      engine.setTempo(std::max(1, baseTempo_ * tempoPercent_ / 100));
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
}

void Player::Song::draw(bool force) {
  Terminal* terminal = player_.terminal_;
  if (!terminal) return;
  SongEngine& engine = *engine_;
  Frame frame;
  frame.heading = "qplay \xC2\xB7 " + std::to_string(index_ + 1) + "/" + std::to_string(total_) + " \xC2\xB7 " +
                  decoder_.decode(source_);
  frame.title = decoder_.decode(kind_ == SourceKind::Module ? moduleTitle_ : karaoke_.title);
  if (frame.title.empty()) frame.title = decoder_.decode(source_.substr(source_.find_last_of('/') + 1));
  frame.info = info_;
  frame.karaoke = karaoke_.current > 0 || karaoke_.next > 0;
  frame.sung = decoder_.decode(karaoke_.currentText.substr(0, karaoke_.sung));
  frame.unsung = decoder_.decode(karaoke_.currentText.substr(karaoke_.sung));
  frame.next = decoder_.decode(karaoke_.nextText);
  if (loading_) {
    frame.state = "downloading";
  } else {
    frame.state = engine.mode() == MCI_MODE_PAUSE ? "\xE2\x8F\xB8 paused" : "\xE2\x96\xB6 playing";
    frame.length = engine.length();
    frame.position = engine.position();
  }
  frame.meter = engine.hasControls();
  if (frame.meter && started_) engine.spectrum(frame.bands);
  if (engine.hasControls() && started_) {
    const std::int32_t key = engine.key();
    frame.controls = "tempo " + std::to_string(engine.tempo()) + " bpm (" + std::to_string(tempoPercent_) +
                     " %)   key " + (key > 0 ? "+" : "") + std::to_string(key);
  }
  frame.notice = notice_;
  std::string text = renderFrame(frame, terminal->columns(), terminal->rows());
  if (!force && text == lastFrame_) return;
  lastFrame_ = text;
  if (force) text = "\x1b[2J" + text;
  ssize_t ignored = write(STDOUT_FILENO, text.data(), text.size());
  (void)ignored;
}

Player::Outcome Player::Song::play() {
  discardMessages(false);
  event("play " + std::to_string(index_ + 1) + "/" + std::to_string(total_) + " " + source_);
  const std::int32_t result = player_.startSong(*this);
  if (result == QMID_LOADING && kind_ == SourceKind::Midi) {
    loading_ = true;
    event("downloading");
  } else if (result != 1) {
    discardMessages(false);
    return fail(result);
  } else {
    onStarted();
  }

  Terminal* terminal = player_.terminal_;
  draw(true);
  std::string pendingKeys;
  for (;;) {
    struct pollfd fds[4] = {{QWin_EventFd(player_.window_), POLLIN, 0},
                            {signalWakeFd(), POLLIN, 0},
                            {terminal ? STDIN_FILENO : -1, POLLIN, 0},
                            {terminal ? terminal->errorFd() : -1, POLLIN, 0}};
    if (poll(fds, 4, kFrameMs) < 0 && errno != EINTR) return finish(Outcome::Quit, "quit");
    if (terminal) {
      for (const std::string& line : terminal->takeErrorLines()) notice_ = line;
    }
    if (const int signal = pendingSignal()) {
      // Ctrl-C is the listener quitting; SIGTERM or SIGHUP is not.
      if (signal != SIGINT) player_.report("ended by signal " + std::to_string(signal), true);
      return finish(Outcome::Quit, "quit");
    }
    if (terminal && (fds[2].revents & POLLIN)) {
      char bytes[64];
      const ssize_t n = read(STDIN_FILENO, bytes, sizeof bytes);
      if (n > 0) pendingKeys.append(bytes, static_cast<std::size_t>(n));
      for (Key key : takeKeys(pendingKeys)) {
        if (!onKey(key)) return key == Key::Quit ? finish(Outcome::Quit, "quit") : finish(Outcome::Skipped, "skip");
      }
    }
    if (!readMessages()) {
      engine_->stop();
      discardMessages(false);
      return fail(downloadFailure_);
    }
    if (started_) {
      const std::int32_t mode = engine_->mode();
      if (mode == MCI_MODE_STOP) return finish(Outcome::Ended, "end");
      if (mode == MCI_MODE_NOT_READY) {  // unloaded behind our back
        discardMessages(false);
        event("end");
        return Outcome::Ended;
      }
    }
    draw(windowResized());
  }
}

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

std::int32_t Player::startSong(Song& song) {
  if (fallback_) {
    const std::string file = nextFallbackWav();
    setOutputs("wav:" + file);
    const std::int32_t result = song.engine_->start(window_, song.source_, song.index_ + 1);
    if (result == 1 || result == QMID_LOADING) {
      song.notice_ = "rendering to " + file;
      report(song.notice_, false);
    }
    return result;
  }
  const std::int32_t result = song.engine_->start(window_, song.source_, song.index_ + 1);
  if (result != song.engine_->deviceFailure() || !options_.out.empty()) return result;
  // A machine without sound: the song still gets played, into a file.
  song.discardMessages(false);
  fallback_ = true;
  const std::string file = nextFallbackWav();
  setOutputs("wav:" + file);
  if (terminal_) terminal_->takeErrorLines();  // the engine's reason is written out at exit
  song.notice_ = "no audio device could be opened: rendering to " + file + " instead";
  report(song.notice_, false);
  return song.engine_->start(window_, song.source_, song.index_ + 1);
}

Player::Outcome Player::play(const std::string& source, int index, int total) {
  Song song(*this, source, index, total);
  return song.play();
}

}  // namespace qplay
