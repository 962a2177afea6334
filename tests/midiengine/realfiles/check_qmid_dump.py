"""Loads real MIDI files that nobody on this team wrote with qmid-dump and checks the song store.

Usage: /usr/bin/python3 check_qmid_dump.py QMID_DUMP [FILE...]

Without FILE arguments it takes every .mid/.kar file that the Debian packages mma and
freedink-data install (scripts/install-deps.sh installs them). For each file:
  - qmid-dump, full and with --summary, exits 0 within the time limit and trips no sanitizer;
  - the record times of the event list never decrease;
  - the record count of --summary equals the record lines of the full dump.
Exits 0 when every file passed, 1 on any failure, 77 when the packages are missing.
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "realfiles"))
from debian_midi import PACKAGES, first_line, package_files, run_tool  # noqa: E402


def run_dump(tool, args):
    """Returns (stdout lines, problem); problem is None when the run is acceptable."""
    code, lines, stderr, problem = run_tool([tool] + args)
    if problem:
        return None, problem
    if code != 0:
        return None, "exit status %d: %s" % (code, first_line(stderr))
    return lines, None


def check_file(tool, path):
    """Returns (passed, detail)."""
    full, problem = run_dump(tool, [path])
    if problem:
        return False, "full dump: " + problem
    summary, problem = run_dump(tool, ["--summary", path])
    if problem:
        return False, "summary: " + problem

    records = 0
    previous = None
    for number, line in enumerate(full, 1):
        if not line.startswith("record "):
            continue
        records += 1
        try:
            time = int(line.split(" ", 2)[1])
        except (IndexError, ValueError):
            return False, "line %d malformed: %r" % (number, line)
        if previous is not None and time < previous:
            return False, "line %d: time %d after %d" % (number, time, previous)
        previous = time

    counts = [line for line in summary if line.startswith("records ")]
    if len(counts) != 1:
        return False, "summary without one records line"
    try:
        summarised = int(counts[0].split()[1])
    except (IndexError, ValueError):
        return False, "summary line malformed: %r" % counts[0]
    if summarised != records:
        return False, "summary counts %d records, the dump has %d" % (summarised, records)
    return True, "%d records" % records


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    tool = argv[1]
    if not os.access(tool, os.X_OK):
        print("not an executable: %s" % tool, file=sys.stderr)
        return 2
    files = argv[2:] or package_files()
    if not files:
        print("skipped: packages %s are not installed" % " and ".join(PACKAGES))
        return 77

    passed = failed = 0
    for path in files:
        ok, detail = check_file(tool, path)
        print("%s: %s: %s" % ("ok" if ok else "FAIL", path, detail))
        if ok:
            passed += 1
        else:
            failed += 1
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
