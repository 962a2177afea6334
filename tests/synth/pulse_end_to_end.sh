#!/bin/sh
# The default MIDI output end to end: a private sound server with a null sink, a song played
# through libqmid with nothing configured, and a recording of the sink's monitor that must
# hold sound. Exit 77 (skipped) when the sound server is not installed.
# Usage: pulse_end_to_end.sh PLAYER SOUNDFONT
set -u
player=$1
soundfont=$2

if ! command -v pulseaudio >/dev/null 2>&1; then
  echo "skipped: pulseaudio is not installed"
  exit 77
fi
for tool in parec python3; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "FAILED: $tool is not installed (pulseaudio-utils provides parec)"
    exit 1
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/qmid-pulse.XXXXXX") || exit 1
daemon=
recorder=
cleanup() {
  [ -n "$recorder" ] && kill "$recorder" 2>/dev/null
  [ -n "$daemon" ] && kill "$daemon" 2>/dev/null
  [ -n "$recorder" ] && wait "$recorder" 2>/dev/null
  [ -n "$daemon" ] && wait "$daemon" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

fail() {
  echo "FAILED: $*"
  echo "--- sound server log"
  cat "$work/daemon.log"
  exit 1
}

# Everything private: the server's socket, the client's cookie and settings. Autospawn is off
# so that a client never starts a server of its own if ours is gone.
mkdir -m 700 "$work/runtime" "$work/home"
export XDG_RUNTIME_DIR="$work/runtime" HOME="$work/home"
export PULSE_SERVER="unix:$work/runtime/pulse/native"
export PULSE_CLIENTCONFIG="$work/client.conf"
echo "autospawn = no" >"$PULSE_CLIENTCONFIG"
unset PULSE_SINK QMID_MIDI_OUT QMID_AUDIO_DRIVER

# Run as root it only warns; -n skips the system's default modules, which expect hardware.
# Without norewinds the null sink stalls a low-latency stream for a second or two at a time.
pulseaudio -n --daemonize=no --exit-idle-time=-1 --log-target=stderr \
  -L "module-null-sink sink_name=nullsink norewinds=1" \
  -L "module-native-protocol-unix auth-anonymous=1" >"$work/daemon.log" 2>&1 &
daemon=$!

tries=0
until [ -S "$work/runtime/pulse/native" ]; do
  tries=$((tries + 1))
  [ "$tries" -gt 100 ] && fail "the sound server did not start within 10 s"
  kill -0 "$daemon" 2>/dev/null || fail "the sound server exited"
  sleep 0.1
done

parec -d nullsink.monitor --format=s16le --rate=44100 --channels=2 --raw >"$work/recording.raw" 2>"$work/parec.log" &
recorder=$!
# The recorder is connected once the monitor's silence starts arriving.
tries=0
until [ -s "$work/recording.raw" ]; do
  tries=$((tries + 1))
  [ "$tries" -gt 100 ] && fail "the recorder got nothing within 10 s: $(cat "$work/parec.log")"
  sleep 0.1
done

QMID_SOUNDFONT=$soundfont "$player" "$work/song.mid" || fail "the player failed"
sleep 0.5
kill "$recorder"
wait "$recorder" 2>/dev/null
recorder=

python3 - "$work/recording.raw" <<'PY' || fail "no sound arrived"
import array, sys
samples = array.array("h")
with open(sys.argv[1], "rb") as f:
    data = f.read()
samples.frombytes(data[: len(data) // 2 * 2])
loud = sum(1 for s in samples if abs(s) >= 300)
peak = max((abs(s) for s in samples), default=0)
print(f"recorded {len(samples) // 2 / 44100:.2f} s, peak {peak}, {loud} samples at -40 dB or more")
# The chord lasts 1.5 s; a tenth of that at -40 dB or more is sound, not a stray click.
sys.exit(0 if loud >= 13230 else 1)
PY
echo "sound arrived through the default output"
