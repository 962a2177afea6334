"""Reads real MIDI files that nobody on this team wrote and checks midi-events against mido.

Usage: /usr/bin/python3 compare_with_mido.py MIDI_EVENTS [FILE...]

Without FILE arguments it takes every .mid/.kar file that the Debian packages mma and
freedink-data install (scripts/install-deps.sh installs them) and needs at least 80 of them
compared. For each file:
  - midi-events must not crash or time out, and must not trip a sanitizer;
  - the tick and millisecond columns must never go backwards over the merged output;
  - the channel messages, with their track, tick and millisecond time, must equal an
    independent parse by mido, timed here from the tempo map with exact integer arithmetic
    and cut where our reader stops at a long pause.
A file mido cannot parse is still checked for crashes and monotonic times.
Exits 0 when every file passed, 1 on any failure, 77 when mido or the packages are missing.
"""

import os
import sys

from debian_midi import PACKAGES, first_line, package_files, run_tool

MIN_COMPARED = 80
LONG_PAUSE_MS = 10000
LARGE_DELTA = 1 << 24
DEFAULT_TEMPO = 500000

# Per-controller operations, back to their controller numbers.
CONTROLLER_OPS = {
    "onBankSelectMsb": 0, "onModulation": 1, "onBreath": 2, "onFootController": 4,
    "onPortamentoTime": 5, "onDataEntryMsb": 6, "onVolume": 7, "onPan": 10,
    "onExpression": 11, "onBankSelectLsb": 32, "onSustain": 64, "onReverbDepth": 91,
    "onChorusDepth": 93, "onDataIncrement": 96, "onDataDecrement": 97, "onRpnLsb": 100,
    "onRpnMsb": 101,
}


def run_reader(tool, path):
    """Returns (lines, problem); problem is None when the run is acceptable."""
    code, lines, stderr, problem = run_tool([tool, path])
    if problem:
        return None, problem
    if code not in (0, 1):
        return None, "exit status %d" % code
    if code == 1:
        return lines, "reader failed: " + first_line(stderr)
    return lines, None


def parse_lines(lines):
    """Splits '<track> <tick> <ms> <operation> <args...>' lines; text arguments stay unsplit."""
    parsed = []
    for number, line in enumerate(lines, 1):
        fields = line.split(" ", 4)
        if len(fields) < 4:
            raise ValueError("line %d malformed: %r" % (number, line))
        rest = fields[4] if len(fields) == 5 else ""
        parsed.append((int(fields[0]), int(fields[1]), int(fields[2]), fields[3], rest))
    return parsed


def check_monotonic(parsed):
    for column, name in ((1, "tick"), (2, "ms")):
        last = 0
        for number, entry in enumerate(parsed, 1):
            if entry[column] < last:
                return "%s column goes back from %d to %d at line %d (%s)" % (
                    name, last, entry[column], number, entry[3])
            last = entry[column]
    return None


def our_channel_events(parsed):
    events = []
    for track, tick, ms, op, rest in parsed:
        when = (track, tick, ms)
        args = rest.split()
        if op in ("onNoteOn", "onNoteOff", "onPolyPressure"):
            kind = {"onNoteOn": "note_on", "onNoteOff": "note_off",
                    "onPolyPressure": "polytouch"}[op]
            events.append(when + (kind,) + tuple(int(a) for a in args))
        elif op == "onController":
            events.append(when + ("control_change",) + tuple(int(a) for a in args))
        elif op in CONTROLLER_OPS:
            channel, value = int(args[0]), int(args[1])
            events.append(when + ("control_change", channel, CONTROLLER_OPS[op], value))
        elif op == "onPitchBendRange":
            # One operation for the three controller messages that set the range.
            channel, value = int(args[0]), int(args[1])
            events.append(when + ("control_change", channel, 101, 0))
            events.append(when + ("control_change", channel, 100, 0))
            events.append(when + ("control_change", channel, 6, value))
        elif op in ("onProgramChange", "onChannelPressure", "onPitchBend"):
            kind = {"onProgramChange": "program_change", "onChannelPressure": "aftertouch",
                    "onPitchBend": "pitchwheel"}[op]
            events.append(when + (kind,) + tuple(int(a) for a in args))
    return events


def mido_channel_message(msg):
    if msg.type == "note_on":
        # Velocity 0 is a note off for our reader.
        return ("note_on" if msg.velocity else "note_off", msg.channel, msg.note, msg.velocity)
    if msg.type == "note_off":
        return ("note_off", msg.channel, msg.note, msg.velocity)
    if msg.type == "polytouch":
        return ("polytouch", msg.channel, msg.note, msg.value)
    if msg.type == "control_change":
        return ("control_change", msg.channel, msg.control, msg.value)
    if msg.type == "program_change":
        return ("program_change", msg.channel, msg.program)
    if msg.type == "aftertouch":
        return ("aftertouch", msg.channel, msg.value)
    if msg.type == "pitchwheel":
        return ("pitchwheel", msg.channel, msg.pitch + 8192)
    return None


def expected_channel_events(midi):
    """Channel messages with (track, tick, ms) as our reader must deliver them, and how a
    pause rule cut the song (None when nothing was cut)."""
    division = midi.ticks_per_beat & 0xFFFF  # mido reads the word signed; we take it unsigned
    divisor = division * 1000
    merged = len(midi.tracks) != 1
    timeline = []
    for number, track in enumerate(midi.tracks, 1):
        tick = 0
        for msg in track:
            tick += msg.time
            timeline.append((tick, number, msg))
    # Stable: equal ticks stay in track order, and in file order within a track.
    timeline.sort(key=lambda entry: entry[0])
    if merged and midi.tracks and midi.tracks[-1] and midi.tracks[-1][0].time >= LARGE_DELTA:
        # A huge first delta in the last track ends the merged read before any event.
        return [], "large first delta of the last track"

    tempo = DEFAULT_TEMPO
    elapsed = 0  # sum of ticks x tempo; exact, divided only to print each time
    previous = 0
    events = []
    for index, (tick, number, msg) in enumerate(timeline):
        gap = tick - previous
        if merged:
            # Our merged reader stops at a gap too long to wait for.
            if divisor and tempo * gap // divisor > LONG_PAUSE_MS:
                dropped = sum(1 for entry in timeline[index:] if mido_channel_message(entry[2]))
                return events, "long pause of %d ticks before tick %d (%d channel events)" % (
                    gap, tick, dropped)
        elif msg.time >= LARGE_DELTA:
            # A single track is read by the plain reader, which skips the rest of a track
            # after an unrealistically large delta.
            return events, "large delta before tick %d" % tick
        elapsed += gap * tempo
        previous = tick
        ms = elapsed // divisor if divisor else 0
        channel_message = mido_channel_message(msg)
        if channel_message:
            events.append((number, tick, ms) + channel_message)
        if msg.type == "set_tempo":
            tempo = msg.tempo
    return events, None


def first_difference(expected, actual):
    for index, (want, got) in enumerate(zip(expected, actual)):
        if want != got:
            return "channel event %d: mido %s, ours %s" % (index, want, got)
    if len(expected) != len(actual):
        index = min(len(expected), len(actual))
        extra = expected[index] if len(expected) > index else actual[index]
        return "%d channel events from mido, %d from ours; first unmatched %s %s" % (
            len(expected), len(actual), "mido" if len(expected) > index else "ours", extra)
    return None


def check_file(tool, path, mido):
    """Returns (status, detail, cut): status is 'ok', 'skipped' or 'FAIL'."""
    lines, problem = run_reader(tool, path)
    if lines is None:
        return "FAIL", problem, None
    try:
        parsed = parse_lines(lines)
    except ValueError as error:
        return "FAIL", str(error), None
    monotonic = check_monotonic(parsed)
    if monotonic:
        return "FAIL", monotonic, None
    try:
        midi = mido.MidiFile(path, clip=False)
        expected, cut = expected_channel_events(midi)
    except Exception as error:  # mido reports bad files with many exception types
        # Our reader may refuse such a file too; it only has to survive it.
        return "skipped", "mido could not parse (%s: %s)" % (type(error).__name__, error), None
    if problem:
        return "FAIL", problem + " where mido parsed the file", None
    difference = first_difference(expected, our_channel_events(parsed))
    if difference:
        return "FAIL", difference, cut
    return "ok", "%d channel events" % len(expected), cut


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    tool = argv[1]
    if not os.access(tool, os.X_OK):
        print("not an executable: %s" % tool, file=sys.stderr)
        return 2
    try:
        import mido
    except ImportError:
        print("skipped: python3-mido is not installed for %s" % sys.executable)
        return 77
    explicit = argv[2:]
    files = explicit or package_files()
    if not files:
        print("skipped: packages %s are not installed" % " and ".join(PACKAGES))
        return 77

    passed = failed = compared = 0
    cut_files = []
    for path in files:
        status, detail, cut = check_file(tool, path, mido)
        if cut is not None:
            cut_files.append("%s: %s" % (path, cut))
            detail += "; cut by %s" % cut
        print("%s: %s: %s" % (status, path, detail))
        if status == "FAIL":
            failed += 1
        else:
            passed += 1
            compared += status == "ok"
    print("%d compared with mido, %d skipped" % (compared, passed - compared))
    for name in cut_files:
        print("pause rule cut %s" % name)
    if not explicit and compared < MIN_COMPARED:
        print("FAIL: only %d files compared, at least %d needed" % (compared, MIN_COMPARED))
        failed += 1
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
