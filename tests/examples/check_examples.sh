#!/bin/bash
# Checks that the committed demo songs are the generator's output and that the engine reads
# twinkle.kar's karaoke lyrics as laid out. Usage: check_examples.sh SOURCE_DIR QMID_DUMP TMP_DIR
set -u

fail() {
  echo "check_examples: $*" >&2
  exit 1
}

[ $# -eq 3 ] || fail "usage: check_examples.sh SOURCE_DIR QMID_DUMP TMP_DIR"
src=$1
dump=$2
tmp=$3

mkdir -p "$tmp" || fail "cannot create $tmp"
python3 "$src/examples/make_examples.py" "$tmp" || fail "examples/make_examples.py failed"
for file in twinkle.kar frere-jacques.mod; do
  cmp "$tmp/$file" "$src/examples/$file" ||
    fail "examples are stale: run examples/make_examples.py ($file differs)"
done

out=$("$dump" "$src/examples/twinkle.kar") || fail "qmid-dump cannot read examples/twinkle.kar"

has_line() {
  grep -qxF -- "$1" <<<"$out" || fail "qmid-dump output has no line: $1"
}

has_line 'title Twinkle, Twinkle, Little Star\x0aTraditional'
has_line 'line 1 0 1 Twinkle, twinkle, little star,'

# Line 0 holds nothing (the first syllable starts a line), then 12 lyric lines.
lines=$(grep -c '^line ' <<<"$out")
[ "$lines" -eq 13 ] || fail "expected 13 line entries (line 0 and 12 lyric lines), got $lines"

# Line 1 always gets a lead-in; line 7 must get one because verse 2 comes after a long pause.
lead_ins=$(grep -E '^line [0-9]+ [0-9]+ 1( |$)' <<<"$out" | cut -d' ' -f2 | tr '\n' ' ')
[ "$lead_ins" = "1 7 " ] || fail "expected lead-ins on lines 1 and 7 only, got lines: $lead_ins"

# Syllable 0 is the engine's empty entry; the words are 12 lines of 7 syllables.
syllables=$(grep -cE '^syllable [0-9]+ [0-9]+ [1-9]' <<<"$out")
[ "$syllables" -eq 84 ] || fail "expected 84 syllables on lyric lines, got $syllables"

length=$(sed -n 's/^songLength \([0-9]*\)$/\1/p' <<<"$out")
if [ -z "$length" ] || [ "$length" -lt 60000 ] || [ "$length" -gt 75000 ]; then
  fail "song length ${length:-missing} ms is not between 60000 and 75000"
fi

echo "check_examples: ok"
