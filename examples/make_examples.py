#!/usr/bin/env python3
"""Writes the project's demo songs, twinkle.kar (karaoke MIDI) and frere-jacques.mod (4-channel
module), into the folder given as the first argument (default: this script's folder)."""

import os
import struct
import sys

# ---------------------------------------------------------------- twinkle.kar

PPQ = 480
BEAT = PPQ
HALF_BAR = 2 * BEAT
BAR = 4 * BEAT
LINE = 2 * BAR
USEC_PER_BEAT = 500000  # 120 bpm

C4, D4, E4, F4, G4, A4 = 60, 62, 64, 65, 67, 69
TUNE = {  # seven notes a line, the seventh a half note
    "A": [C4, C4, G4, G4, A4, A4, G4],
    "B": [F4, F4, E4, E4, D4, D4, C4],
    "C": [G4, G4, F4, F4, E4, E4, D4],
}
TUNE["D"] = TUNE["C"]
HARMONY = {"A": "CCFC", "B": "FCGC", "C": "CFCG", "D": "CFCG"}  # one chord a half bar
VERSE_TUNES = "ABCDAB"
INTERLUDE_TUNES = "CDAB"
CHORDS = {"C": (52, 55, 60), "F": (53, 57, 60), "G": (50, 55, 59)}
BASS_ROOT = {"C": 36, "F": 41, "G": 43}

VERSES = [
    [["Twin", "kle, ", "twin", "kle, ", "lit", "tle ", "star,"],
     ["How ", "I ", "won", "der ", "what ", "you ", "are!"],
     ["Up ", "a", "bove ", "the ", "world ", "so ", "high,"],
     ["Like ", "a ", "dia", "mond ", "in ", "the ", "sky."],
     ["Twin", "kle, ", "twin", "kle, ", "lit", "tle ", "star,"],
     ["How ", "I ", "won", "der ", "what ", "you ", "are!"]],
    [["When ", "the ", "bla", "zing ", "sun ", "is ", "gone,"],
     ["When ", "he ", "no", "thing ", "shines ", "up", "on,"],
     ["Then ", "you ", "show ", "your ", "lit", "tle ", "light,"],
     ["Twin", "kle, ", "twin", "kle, ", "all ", "the ", "night."],
     ["Twin", "kle, ", "twin", "kle, ", "lit", "tle ", "star,"],
     ["How ", "I ", "won", "der ", "what ", "you ", "are!"]],
]

INTRO_START = 0
VERSE1_START = INTRO_START + 2 * BAR
INTERLUDE_START = VERSE1_START + 6 * LINE
REST_START = INTERLUDE_START + 8 * BAR
VERSE2_START = REST_START + 2 * BEAT
ENDING_START = VERSE2_START + 6 * LINE
SONG_END = ENDING_START + BAR


def ms(tick):
    return tick * USEC_PER_BEAT / PPQ / 1000


# The player gives a line a lead-in only after more than 20 s without a new line.
assert ms(VERSE1_START) == 4000
assert ms(VERSE2_START) - ms(VERSE1_START + 5 * LINE) == 21000
assert 65000 <= ms(SONG_END) <= 72000


def vlq(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


class Track:
    # Same-tick order: metas and programs first, note-offs before note-ons.
    META, PROGRAM, OFF, ON = range(4)

    def __init__(self, name):
        self.events = []
        self.meta(0, 3, name.encode("ascii"))

    def add(self, tick, rank, data):
        self.events.append((tick, rank, len(self.events), data))

    def meta(self, tick, kind, data):
        self.add(tick, Track.META, bytes([0xFF, kind]) + vlq(len(data)) + data)

    def program(self, channel, number):
        self.add(0, Track.PROGRAM, bytes([0xC0 | channel, number]))

    def note(self, channel, tick, length, key, velocity):
        self.add(tick, Track.ON, bytes([0x90 | channel, key, velocity]))
        self.add(tick + length, Track.OFF, bytes([0x80 | channel, key, 64]))

    def chunk(self):
        body = bytearray()
        now = 0
        for tick, _, _, data in sorted(self.events):
            assert tick <= SONG_END
            body += vlq(tick - now) + data
            now = tick
        body += vlq(SONG_END - now) + b"\xff\x2f\x00"
        return b"MTrk" + struct.pack(">I", len(body)) + bytes(body)


def tune_notes(tunes, start):
    """(tick, length in ticks, key) of each note of the given tune lines."""
    notes = []
    for n, name in enumerate(tunes):
        line_start = start + n * LINE
        for i, key in enumerate(TUNE[name]):
            notes.append((line_start + i * BEAT, 2 * BEAT if i == 6 else BEAT, key))
    return notes


def harmony():
    """(tick, chord name) for every half bar from the intro to the end of verse 2."""
    names = "CFCG" + "".join(HARMONY[t] for t in VERSE_TUNES + INTERLUDE_TUNES)
    names += "G" + "".join(HARMONY[t] for t in VERSE_TUNES)
    ticks = [INTRO_START + i * HALF_BAR for i in range(4 + 4 * 6 + 4 * 4)]
    ticks += [REST_START + i * HALF_BAR for i in range(1 + 4 * 6)]
    assert len(ticks) == len(names) and ticks[-1] + HALF_BAR == ENDING_START
    return list(zip(ticks, names))


def make_kar():
    conductor = Track("Twinkle, Twinkle, Little Star")
    conductor.meta(0, 2, b"Public domain")
    conductor.meta(0, 0x58, bytes([4, 2, 24, 8]))
    conductor.meta(0, 0x51, USEC_PER_BEAT.to_bytes(3, "big"))

    words = Track("Words")
    words.meta(0, 1, b"@TTwinkle, Twinkle, Little Star")
    words.meta(0, 1, b"@TTraditional")
    melody = Track("Melody")
    melody.program(0, 0)
    for verse, start in zip(VERSES, (VERSE1_START, VERSE2_START)):
        notes = tune_notes(VERSE_TUNES, start)
        syllables = [s for line in verse for s in line]
        assert len(syllables) == len(notes) == 42
        for i, ((tick, length, key), text) in enumerate(zip(notes, syllables)):
            if i % 7 == 0:
                text = ("\\" if i == 0 else "/") + text
            words.meta(tick, 1, text.encode("ascii"))
            melody.note(0, tick, length - 40, key, 100)

    interlude = Track("Interlude")
    interlude.program(3, 73)
    for tick, length, key in tune_notes(INTERLUDE_TUNES, INTERLUDE_START):
        interlude.note(3, tick, length - 60, key + 12, 90)

    chords = Track("Chords")
    chords.program(1, 48)
    bass = Track("Bass")
    bass.program(2, 33)
    drums = Track("Drums")
    for tick, name in harmony() + [(ENDING_START, "C")]:
        length = BAR if tick == ENDING_START else HALF_BAR
        for key in CHORDS[name]:
            chords.note(1, tick, length - 20, key, 50)
        bass.note(2, tick, length - 60, BASS_ROOT[name], 80)
        drums.note(9, tick, 60, 36, 60)
        if tick != ENDING_START:
            for beat in range(2):
                drums.note(9, tick + beat * BEAT, 60, 42, 40)

    tracks = [conductor, words, melody, interlude, chords, bass, drums]
    header = b"MThd" + struct.pack(">IHHH", 6, 1, len(tracks), PPQ)
    return header + b"".join(t.chunk() for t in tracks)


# ---------------------------------------------------------- frere-jacques.mod

ROWS_PER_BEAT = 4
ROWS_PER_BAR = 4 * ROWS_PER_BEAT
PERIODS = [  # finetune 0, C-1 .. B-3
    856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,
    428, 404, 381, 360, 340, 320, 302, 285, 269, 254, 240, 226,
    214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113,
]
STEP = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}


def period(note):
    """Amiga period of a note written like "C-2"."""
    return PERIODS[(int(note[2]) - 1) * 12 + STEP[note[0]]]


# The round's tune in octave 2 (low G in octave 1): (note, length in eighths).
ROUND = (
    [("C", 2), ("D", 2), ("E", 2), ("C", 2)] * 2
    + [("E", 2), ("F", 2), ("G", 4)] * 2
    + [("G", 1), ("A", 1), ("G", 1), ("F", 1), ("E", 2), ("C", 2)] * 2
    + [("C", 2), ("g", 2), ("C", 4)] * 2
)
ROUND_BARS = 8
ENTRY_BARS = 2
VOICES = [  # (channel, sample, octave shift)
    (0, 1, 0),
    (1, 2, 0),
    (3, 1, 1),
]
BASS_CHANNEL = 2
SONG_BARS = ROUND_BARS + ENTRY_BARS * (len(VOICES) - 1)
PATTERN_COUNT = SONG_BARS * ROWS_PER_BAR // 64
assert PATTERN_COUNT * 64 == SONG_BARS * ROWS_PER_BAR
assert sum(n for _, n in ROUND) == ROUND_BARS * 8


def triangle(size):
    return [round(-100 + 200 * (i if i < size // 2 else size - i) / (size // 2)) for i in range(size)]


def square(size):
    return [80 if i < size // 2 else -80 for i in range(size)]


def bass_wave(size):
    # Saw softened with a little triangle, so it sounds at low volume on small speakers.
    return [round(0.6 * (-110 + 220 * i / size) + 0.4 * t) for i, t in zip(range(size), triangle(size))]


def noise_burst(size):
    seed = 12345
    out = [0, 0]  # a one-shot sample starts with a silent word
    for i in range(2, size):
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        out.append(round(((seed >> 16) % 201 - 100) * (1 - i / size) ** 2))
    return out


SAMPLES = [  # name, data, volume, looped
    ("triangle lead", triangle(32), 44, True),
    ("square lead", square(32), 26, True),
    ("bass", bass_wave(64), 48, True),
    ("hi-hat", noise_burst(512), 28, False),
]
BASS_SAMPLE, HAT_SAMPLE = 3, 4


def cell(note=None, sample=0, effect=0, param=0):
    p = period(note) if note else 0
    return bytes([(sample & 0xF0) | (p >> 8), p & 0xFF, ((sample & 0x0F) << 4) | effect, param])


def make_mod():
    rows = [[cell() for _ in range(4)] for _ in range(SONG_BARS * ROWS_PER_BAR)]
    rows[0][1] = cell(effect=0xF, param=6)
    rows[0][3] = cell(effect=0xF, param=125)

    for number, (channel, sample, shift) in enumerate(VOICES):
        row = number * ENTRY_BARS * ROWS_PER_BAR
        for name, eighths in ROUND:
            octave = (1 if name.islower() else 2) + shift
            length = eighths * ROWS_PER_BEAT // 2
            assert rows[row][channel] == cell()
            rows[row][channel] = cell(f"{name.upper()}-{octave}", sample)
            rows[row + length - 1][channel] = cell(effect=0xE, param=0xC4)  # a short gap
            row += length

    # The bass plays C and G on beats 1 and 3; the hi-hat takes the channel on beats 2 and 4.
    for bar in range(SONG_BARS):
        top = bar * ROWS_PER_BAR
        last = bar == SONG_BARS - 1
        rows[top][BASS_CHANNEL] = cell("C-1", BASS_SAMPLE)
        rows[top + ROWS_PER_BEAT][BASS_CHANNEL] = cell("C-3", HAT_SAMPLE)
        rows[top + 2 * ROWS_PER_BEAT][BASS_CHANNEL] = cell("C-1" if last else "G-1", BASS_SAMPLE)
        if not last:
            rows[top + 3 * ROWS_PER_BEAT][BASS_CHANNEL] = cell("C-3", HAT_SAMPLE)

    out = bytearray(b"Frere Jacques".ljust(20, b"\0"))
    for n in range(31):
        if n < len(SAMPLES):
            name, data, volume, looped = SAMPLES[n]
            words = len(data) // 2
            assert words * 2 == len(data)
            out += name.encode("ascii").ljust(22, b"\0")
            out += struct.pack(">HBBHH", words, 0, volume, 0, words if looped else 1)
        else:
            out += bytes(22) + struct.pack(">HBBHH", 0, 0, 0, 0, 1)
    out += bytes([PATTERN_COUNT, 127]) + bytes(range(PATTERN_COUNT)).ljust(128, b"\0")
    out += b"M.K."
    for row in rows:
        out += b"".join(row)
    for _, data, _, _ in SAMPLES:
        out += bytes(v & 0xFF for v in data)
    return bytes(out)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(folder, exist_ok=True)
    for name, data in (("twinkle.kar", make_kar()), ("frere-jacques.mod", make_mod())):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
