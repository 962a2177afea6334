"""What the real-file checks share: the MIDI files of Debian packages that nobody on this team
wrote (scripts/install-deps.sh installs them), and running one of our tools on one of them."""

import os
import subprocess

PACKAGES = ["mma", "freedink-data"]
SUFFIXES = (".mid", ".kar")
TIMEOUT_SECONDS = 30
SANITIZER_MARKS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:",
                   "UndefinedBehaviorSanitizer")


def package_files():
    """The packages' .mid and .kar files, sorted; None when the packages are missing."""
    try:
        listing = subprocess.run(["dpkg", "-L"] + PACKAGES, capture_output=True, text=True)
    except OSError:
        return None
    if listing.returncode != 0:
        return None
    files = {line for line in listing.stdout.splitlines()
             if line.lower().endswith(SUFFIXES) and os.path.isfile(line)}
    return sorted(files)


def run_tool(command):
    """Returns (returncode, stdout lines, stderr text, problem). problem is None unless the run
    timed out, tripped a sanitizer or was killed by a signal; the exit status is the caller's."""
    try:
        run = subprocess.run(command, capture_output=True, timeout=TIMEOUT_SECONDS)
    except subprocess.TimeoutExpired:
        return None, None, "", "timed out after %d s" % TIMEOUT_SECONDS
    stderr = run.stderr.decode("latin-1")
    for mark in SANITIZER_MARKS:
        if mark in stderr:
            first = next(line for line in stderr.splitlines() if mark in line)
            return run.returncode, None, stderr, "sanitizer report: " + first.strip()
    if run.returncode < 0:
        return run.returncode, None, stderr, "killed by signal %d" % -run.returncode
    return run.returncode, run.stdout.decode("latin-1").splitlines(), stderr, None


def first_line(text):
    return (text.strip().splitlines() or ["(no message)"])[0]
