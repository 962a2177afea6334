#!/usr/bin/env bash
# Installs the Debian packages that building and testing need (apt, as root or through sudo).
# Packages already installed are not fetched again.
#   install-deps.sh        everything: building, playing and testing
#   install-deps.sh play   only what building the libraries and qplay and playing a song need
set -euo pipefail

play_packages=(
  # build (GoogleTest and Google Benchmark too: the default configuration builds the tests)
  cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  # the engines' own dependencies: downloads, the embedded synthesizer (jackd2's library in the
  # same command, or apt swaps in another JACK), the stand-in tracker plug-in
  libcurl4-openssl-dev libfluidsynth-dev libjack-jackd2-dev timgm6mb-soundfont
  libopenmpt-dev libsdl2-dev
)
test_packages=(
  # the fuzz target's compiler and its runtime
  clang libclang-rt-14-dev
  # a private sound server for the end-to-end audio test; a terminal for the player's screen test
  pulseaudio pulseaudio-utils tmux
  # test data that no one here wrote, and an independent parser to compare with
  python3 python3-mido mma freedink-data tuxmath-data monsterz-data vor ballz-data
)

packages=("${play_packages[@]}")
case "${1:-all}" in
  play) ;;
  all) packages+=("${test_packages[@]}") ;;
  *) echo "usage: install-deps.sh [play|all]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}"
$sudo apt-get update -q
# Recommends would drag in large packages (a 148 MB SoundFont among them).
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
