#!/usr/bin/env bash
# Installs the Debian packages that building and testing need (apt, as root or through sudo).
# Packages already installed are not fetched again.
set -euo pipefail

packages=(
  # build
  cmake g++ make pkg-config clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
  # test data that no one here wrote, and an independent parser to compare with
  python3 python3-mido mma freedink-data
)

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
