// Reading karaoke cues and following them on a two-line display.
#include "Cues.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "qmid.h"

namespace qplay {

namespace {

std::string boundedText(const char* text, std::size_t room) {
  return std::string(text, strnlen(text, room));
}

}  // namespace

Cue CueReader::read(const QWinMessage& message) {
  Cue cue;
  if (message.message != MSG_KARAOKE) return cue;
  const uintptr_t w = message.wParam;
  if (message.lParam == 0) {
    if (w == 0) cue.kind = Cue::Stop;  // the first of the pair; the second adds nothing
    return cue;
  }
  const void* record = reinterpret_cast<const void*>(message.lParam);
  if (w == 0) {
    cue.kind = Cue::Start;
    cue.text = boundedText(static_cast<const char*>(record), 256);  // the title leads the texts
    return cue;
  }
  if (w == QMID_CUE_SYLLABLE || w == QMID_CUE_SEEK_SYLLABLE) {
    const auto* s = static_cast<const LyricSyllable*>(record);
    cue.kind = w == QMID_CUE_SYLLABLE ? Cue::Syllable : Cue::SeekSyllable;
    cue.line = s->line;
    const std::string& text = lineTexts_[s->line];
    // Offsets count syllables that did not fit into the stored text.
    const std::size_t offset = std::min<std::size_t>(std::max(s->offset, 0), text.size());
    const std::size_t length = std::min<std::size_t>(std::max(s->length, 0), text.size() - offset);
    cue.text = text.substr(offset, length);
    cue.end = offset + length;
    cue.lineText = text;
    return cue;
  }
  const auto* line = static_cast<const LyricLine*>(record);
  const bool seek = w >= QMID_CUE_SEEK_LINE;
  cue.kind = seek ? Cue::SeekLine : Cue::Line;
  cue.line = static_cast<int>(seek ? w - QMID_CUE_SEEK_LINE : w);
  cue.leadIn = line->leadIn != 0;
  cue.text = boundedText(line->text, sizeof line->text);
  lineTexts_[cue.line] = cue.text;
  return cue;
}

void KaraokeState::apply(const Cue& cue) {
  switch (cue.kind) {
    case Cue::Start:
      *this = KaraokeState{};
      title = cue.text;
      break;
    case Cue::Line:
      // A lead-in line comes after a long pause: it is the next thing to sing, shown at once.
      if (cue.leadIn) {
        current = cue.line;
        currentText = cue.text;
        sung = 0;
        next = 0;
        nextText.clear();
      } else {
        next = cue.line;
        nextText = cue.text;
      }
      break;
    case Cue::SeekLine:
      current = cue.line;
      currentText = cue.line > 0 ? cue.text : std::string();
      sung = 0;
      next = 0;
      nextText.clear();
      break;
    case Cue::Syllable:
    case Cue::SeekSyllable:
      if (cue.line <= 0) break;
      if (cue.line != current) {  // the first syllable of the next line: it moves up
        current = cue.line;
        currentText = cue.lineText;
        if (cue.line == next) {
          next = 0;
          nextText.clear();
        }
      }
      sung = std::min(cue.end, currentText.size());
      break;
    case Cue::Stop: {
      std::string keep = title;
      *this = KaraokeState{};
      title = keep;
      break;
    }
    case Cue::Other:
      break;
  }
}

}  // namespace qplay
