#!/usr/bin/env python3
# End-to-end tests of the qplay terminal player: line mode, the screen under tmux, URLs and
# failing sources, and the WAV fallback without an audio device.
# Usage: qplay_e2e.py QPLAY EXAMPLES_DIR {lines|screen|url|failure|fallback}
import functools
import http.server
import math
import os
import re
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import wave

SKIP = 77
# Generous: sanitizer builds start and run several times slower.
RUN_TIMEOUT = 240
WAIT = 40.0

TWINKLE_LINES = [
    "Twinkle, twinkle, little star,",
    "How I wonder what you are!",
    "Up above the world so high,",
    "Like a diamond in the sky.",
    "Twinkle, twinkle, little star,",
    "How I wonder what you are!",
    "When the blazing sun is gone,",
    "When he nothing shines upon,",
    "Then you show your little light,",
    "Twinkle, twinkle, all the night.",
    "Twinkle, twinkle, little star,",
    "How I wonder what you are!",
]
LEAD_IN_LINES = {1, 7}


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


# --- line mode -------------------------------------------------------------------------------

def unquote(text):
    escapes = {'"': '"', "\\": "\\", "n": "\n"}
    return re.sub(r'\\(x[0-9a-f]{2}|.)',
                  lambda m: chr(int(m.group(1)[1:], 16)) if len(m.group(1)) == 3 else escapes[m.group(1)],
                  text)


def parse_events(stdout):
    """Each line as (word, number or None, text or None, rest)."""
    events = []
    for row in stdout.splitlines():
        m = re.match(r'(\S+)(?: (-?\d+)(?= |$))?(?: "((?:[^"\\]|\\.)*)")?(.*)$', row)
        number = int(m.group(2)) if m.group(2) is not None else None
        text = unquote(m.group(3)) if m.group(3) is not None else None
        events.append((m.group(1), number, text, m.group(4).strip()))
    return events


def run_qplay(qplay, args, cwd):
    proc = subprocess.run([qplay, *args], cwd=cwd, capture_output=True, text=True, errors="replace",
                          timeout=RUN_TIMEOUT, stdin=subprocess.DEVNULL)
    return proc.returncode, proc.stdout, proc.stderr


def describe(code, stdout, stderr):
    return f"exit {code}\n--- stdout ---\n{stdout}--- stderr ---\n{stderr}"


def source_blocks(events):
    """The events from each `play N/M` line on, by N."""
    blocks, current = {}, None
    for event in events:
        if event[0] == "play":
            current = blocks.setdefault(int(event[3].split("/")[0]), [])
        if current is not None:
            current.append(event)
    return blocks


def small_midi(path):
    """Format 0, 120 bpm, four notes over 2 s and two lyric lines: "Hello " and "world"."""
    def vlq(value):
        out = [value & 0x7F]
        while value > 0x7F:
            value >>= 7
            out.insert(0, (value & 0x7F) | 0x80)
        return bytes(out)

    def text(data):
        return b"\xff\x01" + vlq(len(data)) + data

    events = [(0, 0, b"\xff\x51\x03" + (500000).to_bytes(3, "big")), (0, 0, b"\xc0\x00")]
    events += [(0, 0, text(b"\\Hel")), (480, 0, text(b"lo ")), (960, 0, text(b"/world"))]
    for i, key in enumerate((60, 62, 64, 65)):
        events += [(i * 480, 2, bytes([0x90, key, 100])), (i * 480 + 400, 1, bytes([0x80, key, 0]))]
    events.sort(key=lambda e: (e[0], e[1]))
    track, last = b"", 0
    for tick, _, data in events:
        track += vlq(tick - last) + data
        last = tick
    track += vlq(1920 - last) + b"\xff\x2f\x00"
    with open(path, "wb") as f:
        f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, 480) + b"MTrk" + struct.pack(">I", len(track)) + track)


SMALL_LINES = [(1, "Hello ", "lead-in"), (2, "world", "")]


def check_lines(events, expected):
    """The `line` events match (number, text, mark), and every line's syllables follow its cue
    and spell its text."""
    lines = [(n, t, rest) for word, n, t, rest in events if word == "line"]
    check(lines == expected, f"line events {lines}, expected {expected}")
    words = [e[0] for e in events]
    check("start" in words and words.index("start") < words.index("line"), "`start` must come before the first line")
    seen, spelled = set(), {}
    for word, n, t, _ in events:
        if word == "line":
            seen.add(n)
        elif word == "syllable":
            check(n in seen, f"syllable {t!r} of line {n} came before its line's cue")
            spelled.setdefault(n, []).append(t)
    for n, text, _ in expected:
        check("".join(spelled.get(n, [])) == text, f"line {n}: syllables {spelled.get(n)} do not spell {text!r}")
    return spelled


def check_wav_sound(path, min_peak=1000, min_rms=100):
    with wave.open(path, "rb") as w:
        check(w.getsampwidth() == 2 and w.getnchannels() == 2, f"{path}: not 16-bit stereo")
        check(w.getnframes() > w.getframerate(), f"{path}: under one second of audio")
        data = w.readframes(w.getnframes())
    samples = struct.unpack(f"<{len(data) // 2}h", data)
    peak = max(abs(s) for s in samples)
    rms = math.sqrt(sum(s * s for s in samples) / len(samples))
    check(peak > min_peak and rms > min_rms, f"{path}: nearly silent (peak {peak}, rms {rms:.0f})")


def test_lines(qplay, examples, tmp):
    # The module goes first so that the WAV left at the end is the karaoke song's.
    wav = os.path.join(tmp, "out.wav")
    code, out, err = run_qplay(qplay, ["--tempo", "400", "--out", "wav:" + wav, "frere-jacques.mod", "twinkle.kar"],
                               examples)
    context = describe(code, out, err)
    try:
        check(code == 0, "qplay failed")
        events = parse_events(out)
        blocks = source_blocks(events)
        check(sorted(blocks) == [1, 2], "expected `play 1/2` and `play 2/2`")
        check(blocks[1][0][3] == "1/2 frere-jacques.mod" and blocks[1][-1][0] == "end",
              "the module did not play to its end")
        song = blocks[2]
        check(song[0][3] == "2/2 twinkle.kar", "second source announced wrongly")
        check(song[-1][0] == "end", "`end` is not the last event")
        expected = [(i + 1, t, "lead-in" if i + 1 in LEAD_IN_LINES else "") for i, t in enumerate(TWINKLE_LINES)]
        spelled = check_lines(song, expected)
        check(all(len(s) == 7 for s in spelled.values()), "every line has 7 syllables")
        check_wav_sound(wav)
    except Failure as e:
        raise Failure(f"{e}\n{context}")


# --- URLs and failing sources ------------------------------------------------------------

class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def test_url(qplay, examples, tmp):
    small_midi(os.path.join(tmp, "song.mid"))
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(QuietHandler, directory=tmp))
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        base = f"http://127.0.0.1:{server.server_address[1]}"
        wav = "wav:" + os.path.join(tmp, "out.wav")
        code, out, err = run_qplay(qplay, ["--out", wav, base + "/song.mid"], tmp)
        try:
            check(code == 0, "qplay failed")
            events = parse_events(out)
            words = [e[0] for e in events]
            # The start cue may come before or after `loaded`: only the lines must wait for it.
            check(words[:2] == ["play", "downloading"] and "loaded" in words
                  and words.index("loaded") < words.index("line"), "expected downloading, then loaded before the lines")
            check(words[-1] == "end", "`end` is not the last event")
            check_lines(events, SMALL_LINES)
        except Failure as e:
            raise Failure(f"{e}\n{describe(code, out, err)}")

        missing = base + "/gone.mid"
        code, out, err = run_qplay(qplay, ["--out", wav, missing], tmp)
        check(code == 1 and "error -9454 QMID_ERR_OPEN" in out.splitlines()
              and f"qplay: {missing}: -9454 QMID_ERR_OPEN" in err.splitlines(),
              f"a 404 should fail with QMID_ERR_OPEN\n{describe(code, out, err)}")
    finally:
        server.shutdown()
        server.server_close()


def test_failure(qplay, examples, tmp):
    small_midi(os.path.join(tmp, "good.mid"))
    with open(os.path.join(tmp, "x.mod"), "w") as f:
        f.write("this is text, not a module\n")
    # (source, expected error or None when it plays)
    cases = [("nosuch.mid", "-9454 QMID_ERR_OPEN"), ("good.mid", None), ("x.mod", "-9502 QMOD_ERR_LOAD")]
    code, out, err = run_qplay(qplay, ["--out", "wav:" + os.path.join(tmp, "out.wav")] + [c[0] for c in cases], tmp)
    try:
        check(code == 1, "qplay must exit 1 when a source fails")
        blocks = source_blocks(parse_events(out))
        check(sorted(blocks) == [1, 2, 3], "every source must be announced")
        for index, (source, error) in enumerate(cases, 1):
            block = blocks[index]
            check(block[0][3] == f"{index}/3 {source}", f"{source}: announced wrongly")
            if error:
                check((block[-1][0], block[-1][1], block[-1][3]) == ("error", int(error.split()[0]), error.split()[1]),
                      f"{source}: expected `error {error}`")
            else:
                check(block[-1][0] == "end", f"{source}: did not play to its end")
                check_lines(block, SMALL_LINES)
        reports = [f"qplay: {s}: {e}" for s, e in cases if e]
        check([l for l in err.splitlines() if l.startswith("qplay: ")] == reports, f"stderr should name {reports}")
    except Failure as e:
        raise Failure(f"{e}\n{describe(code, out, err)}")


def test_fallback(qplay, examples, tmp):
    """No audio device and no --out: one line says so and each song renders to its own WAV."""
    small_midi(os.path.join(tmp, "good.mid"))
    env = {k: v for k, v in os.environ.items() if k not in ("QMID_MIDI_OUT", "QMID_AUDIO_DRIVER", "QMOD_AUDIO")}
    # Sound servers and sound cards out of reach, whatever the machine has.
    env.update(PULSE_SERVER="unix:" + os.path.join(tmp, "no-server"), ALSA_CONFIG_PATH="/dev/null")
    proc = subprocess.run([qplay, "good.mid", "good.mid"], cwd=tmp, env=env, capture_output=True, text=True,
                          errors="replace", timeout=RUN_TIMEOUT, stdin=subprocess.DEVNULL)
    context = describe(proc.returncode, proc.stdout, proc.stderr)
    try:
        check(proc.returncode == 0, "qplay failed")
        ours = [l for l in proc.stderr.splitlines() if l.startswith("qplay: ")]
        check(ours == ["qplay: no audio device could be opened: rendering to qplay-out.wav instead",
                       "qplay: rendering to qplay-out-2.wav"], f"unexpected reports {ours}")
        blocks = source_blocks(parse_events(proc.stdout))
        check([b[-1][0] for b in blocks.values()] == ["end", "end"], "both songs must play to their end")
        for name in ("qplay-out.wav", "qplay-out-2.wav"):
            check_wav_sound(os.path.join(tmp, name), min_peak=300, min_rms=30)  # one soft piano
    except Failure as e:
        raise Failure(f"{e}\n{context}")


# --- the screen under tmux ---------------------------------------------------------------

CLOCK = re.compile(r"(\d+):(\d\d) / \d+:\d\d")


class Pane:
    """One tmux session on a private server, running qplay and then recording how it left."""

    def __init__(self, tmux, tmp, name):
        self.tmux, self.tmp, self.name = tmux, tmp, name
        self.last = ""

    def cmd(self, *args):
        # The server's socket lives in the test's folder; bash goes on after a child that
        # handled Ctrl-C, which the interrupt session relies on.
        env = {k: v for k, v in os.environ.items() if k != "TMUX"}
        env.update(LANG="C.UTF-8", TERM="screen", SHELL="/bin/bash", TMUX_TMPDIR=self.tmp)
        proc = subprocess.run([self.tmux, "-L", "qplay-e2e", "-f", "/dev/null", *args], env=env,
                              capture_output=True, text=True, errors="replace", timeout=30)
        check(proc.returncode == 0, f"tmux {' '.join(args)}: {proc.stderr.strip()}")
        return proc.stdout

    def start(self, shell_command):
        self.cmd("new-session", "-d", "-s", self.name, "-x", "100", "-y", "30", shell_command)

    def rows(self, escapes=False):
        self.last = self.cmd("capture-pane", "-p", *(["-e"] if escapes else []), "-t", self.name)
        return self.last.split("\n")

    def flag(self, name):
        return self.cmd("display-message", "-p", "-t", self.name, "#{%s}" % name).strip()

    def keys(self, *keys):
        self.cmd("send-keys", "-t", self.name, *keys)

    def wait(self, what, found, escapes=False, timeout=WAIT):
        """Polls the pane until found(rows) gives something."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            result = found(self.rows(escapes))
            if result:
                return result
            time.sleep(0.2)
        raise Failure(f"no {what} on the screen within {timeout:.0f} s; last screen:\n{self.last}")

    def clock(self, rows=None):
        for row in rows if rows is not None else self.rows():
            m = CLOCK.search(row)
            if m:
                return int(m.group(1)) * 60 + int(m.group(2))
        raise Failure(f"no clock on the screen:\n{self.last}")


def state_is(word):
    return lambda rows: rows if any(word in r and CLOCK.search(r) for r in rows) else None


def highlighted_line(rows):
    """(sung part, whole line) of a lyric row that starts in bold yellow, or None."""
    for row in rows:
        style, before, sung = set(), "", ""
        for token in re.split(r"(\x1b\[[0-9;]*m)", row):
            if token.startswith("\x1b["):
                for p in token[2:-1].split(";"):
                    style = set() if p in ("", "0") else style | {p}
            elif {"1", "33"} <= style:
                sung += token
            elif not sung:
                before += token
        line = re.sub(r"\x1b\[[0-9;]*m", "", row)[2:].rstrip()
        if sung and before == "  " and line in TWINKLE_LINES and line.startswith(sung):
            return sung, line
    return None


def read_text(path):
    try:
        with open(path) as f:
            return f.read()
    except FileNotFoundError:
        return ""


def check_restored(pane, tmp, label):
    exit_file = os.path.join(tmp, label + ".exit")
    code = pane.wait("end of qplay", lambda rows: read_text(exit_file).strip()).strip()
    check(code == "0", f"{label}: qplay exited with {code}\n{pane.last}")
    check(pane.flag("alternate_on") == "0", f"{label}: still on the alternate screen")
    check(pane.flag("cursor_flag") == "1", f"{label}: the cursor is still hidden")
    modes = read_text(os.path.join(tmp, label + ".stty")).split()
    shown = [m for m in modes if m.lstrip("-") in ("icanon", "echo")]
    check("icanon" in modes and "echo" in modes, f"{label}: terminal modes not restored: {' '.join(shown)}")
    pane.wait("EXIT line of the shell", lambda rows: "EXIT=0" in rows)


def session_command(qplay, songs, tmp, label):
    q = shlex.quote
    stty, exit_file = q(os.path.join(tmp, label + ".stty")), q(os.path.join(tmp, label + ".exit"))
    sources = " ".join(q(song) for song in songs)
    return (f"{q(qplay)} --out wav:{q(os.path.join(tmp, label + '.wav'))} {sources}; code=$?; "
            f"stty -a > {stty}; echo EXIT=$code; echo $code > {exit_file}; sleep 120")


def test_screen(qplay, examples, tmp):
    tmux = shutil.which("tmux")
    if not tmux:
        print("skipped: tmux is not installed")
        sys.exit(SKIP)
    kar = os.path.join(examples, "twinkle.kar")
    pane = Pane(tmux, tmp, "keys")
    try:
        pane.start(session_command(qplay, [kar], tmp, "keys"))
        rows = pane.wait("playing state", state_is("playing"))
        check(rows[0].strip() == f"qplay · 1/1 · {kar}", f"heading row: {rows[0]!r}")
        check(rows[1].strip() == "Twinkle, Twinkle, Little Star · Traditional", f"title row: {rows[1]!r}")
        check(rows[2].startswith("Title : Twinkle"), f"info row: {rows[2]!r}")
        check(any("tempo 120 bpm (100 %)   key 0" in r for r in rows), "tempo row missing")

        pane.wait("bold yellow sung part of a lyric line", highlighted_line, escapes=True)
        first = pane.clock()
        pane.wait("moving clock", lambda rows: pane.clock(rows) > first)

        pane.keys("Space")
        rows = pane.wait("paused state", state_is("⏸ paused"))
        paused_at = pane.clock(rows)
        time.sleep(1.2)
        rows = pane.rows()
        check(state_is("paused")(rows) and pane.clock(rows) == paused_at, f"the clock moved while paused:\n{pane.last}")
        # A seek while paused moves the clock and leaves the song paused.
        pane.keys("Right")
        rows = pane.wait("seek while paused", lambda rows: rows if pane.clock(rows) >= paused_at + 4 else None)
        time.sleep(0.5)
        rows = pane.rows()
        check(state_is("paused")(rows), f"a seek while paused resumed playing:\n{pane.last}")
        pane.keys("Space")
        pane.wait("playing state after resume", state_is("▶ playing"))

        # Playing moves the clock a second at a time; a seek shows as one jump between two looks.
        before = pane.clock()
        pane.keys("Right")
        jumps = []

        def jumped(rows):
            nonlocal before
            now = pane.clock(rows)
            jumps.append(now - before)
            before = now
            return jumps[-1] >= 3

        pane.wait("seek", jumped)
        check(4 <= jumps[-1] <= 7, f"seeking 5 s moved the clock by {jumps[-1]} s")

        pane.keys("Up")
        pane.wait("tempo 126 bpm", lambda rows: any("tempo 126 bpm (105 %)" in r for r in rows))
        pane.keys("]")
        pane.wait("key +1", lambda rows: any(r.rstrip().endswith("key +1") for r in rows))
        pane.keys("q")
        check_restored(pane, tmp, "keys")
        pane.cmd("kill-session", "-t", "keys")  # ends its shell's sleep

        # n moves on to the next source; Ctrl-C must restore the terminal and end normally, so
        # the shell goes on.
        pane = Pane(tmux, tmp, "interrupt")
        pane.start(session_command(qplay, [kar, os.path.join(examples, "frere-jacques.mod")], tmp, "interrupt"))
        pane.wait("playing state", state_is("▶ playing"))
        check(pane.flag("alternate_on") == "1", "qplay is not on the alternate screen")
        pane.keys("n")
        rows = pane.wait("the module after n", lambda rows: rows if rows[0].strip().startswith("qplay · 2/2") else None)
        check(rows[1].strip() == "Frere Jacques", f"module title row: {rows[1]!r}")
        pane.wait("the module playing", state_is("▶ playing"))
        pane.keys("C-c")
        check_restored(pane, tmp, "interrupt")
        pane.cmd("kill-session", "-t", "interrupt")

        # Ctrl-Z in an interactive shell: the terminal is the shell's while qplay is stopped,
        # and the screen comes back with fg.
        pane = Pane(tmux, tmp, "suspend")
        pane.start("bash --norc --noprofile -i")
        q = shlex.quote
        stty, exit_file = q(os.path.join(tmp, "suspend.stty")), q(os.path.join(tmp, "suspend.exit"))
        pane.keys("-l", f"{q(qplay)} --out null {q(kar)}")
        pane.keys("Enter")
        pane.wait("playing state", state_is("▶ playing"))
        pane.keys("C-z")
        pane.wait("the shell's job report", lambda rows: any("Stopped" in r for r in rows))
        check(pane.flag("alternate_on") == "0", "still on the alternate screen while stopped")
        pane.keys("-l", f"stty -a > {stty}")
        pane.keys("Enter")
        pane.wait("stty's output", lambda rows: read_text(os.path.join(tmp, "suspend.stty")))
        modes = read_text(os.path.join(tmp, "suspend.stty")).split()
        check("icanon" in modes and "echo" in modes, "terminal modes not given back while stopped")
        pane.keys("-l", "fg")
        pane.keys("Enter")
        pane.wait("the screen after fg", state_is("▶ playing"))
        check(pane.flag("alternate_on") == "1", "the screen did not come back after fg")
        pane.keys("q")
        pane.keys("-l", f"echo $? > {exit_file}")  # fg's status is the job's
        pane.keys("Enter")
        code = pane.wait("end of qplay", lambda rows: read_text(os.path.join(tmp, "suspend.exit")).strip())
        check(code.strip() == "0", f"qplay exited with {code} after a suspend")
    finally:
        try:
            pane.cmd("kill-server")
        except Failure:
            pass  # no server left


TESTS = {"lines": test_lines, "screen": test_screen, "url": test_url, "failure": test_failure,
         "fallback": test_fallback}


def main():
    if len(sys.argv) != 4 or sys.argv[3] not in TESTS:
        sys.exit(f"usage: {sys.argv[0]} QPLAY EXAMPLES_DIR {{{'|'.join(TESTS)}}}")
    qplay, examples = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    with tempfile.TemporaryDirectory(prefix="qplay-e2e-") as tmp:
        try:
            TESTS[sys.argv[3]](qplay, examples, tmp)
        except Failure as e:
            sys.exit(f"FAIL {sys.argv[3]}: {e}")
        except subprocess.TimeoutExpired as e:
            sys.exit(f"FAIL {sys.argv[3]}: timed out: {e}")
    print(f"PASS {sys.argv[3]}")


if __name__ == "__main__":
    main()
