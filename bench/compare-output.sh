#!/usr/bin/env bash
# Compares the pages that kestrix-cli writes with the pages an earlier commit
# writes: the earlier commit is built in a temporary worktree beside this
# one, and both secure the same pages at strength levels 0 to 4 with every
# switch on: scrambling, the access script with all eight switches, and the
# optimisation with all nine; at level 2 also to standard output. The pages:
# real ones (the installed Rust documentation), and made ones in the
# encodings that take other roads through the scrambling: UTF-8 declared but
# malformed (early, late, cut at the end, beyond the first pieces the
# scrambling works in), windows-1252 undeclared and declared, and other
# charsets (ISO-8859-2, KOI8-R, Shift_JIS, EUC-JP, GBK, Big5, UTF-16 with a
# byte-order mark), and pages of a megabyte and more. Every output, message
# and exit status must be identical.
# Usage: bench/compare-output.sh [COMMIT] [PAGES] [BUILD_DIR]
#   COMMIT     the earlier commit (default fc413d1)
#   PAGES      how many real pages (default 2000), spread over the whole tree
#   BUILD_DIR  the build of the current tree (default build)
# KESTRIX_CLI_BEFORE=PATH uses an earlier build already made instead of
# building COMMIT.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
commit="${1:-fc413d1}"
count="${2:-2000}"
build="$(cd "${3:-$root/build}" && pwd)"
new_cli="$build/cli/kestrix-cli"
if [ ! -x "$new_cli" ]; then
  echo "missing $new_cli: build the project first (bash scripts/build)" >&2
  exit 1
fi
docs="$(rustc --print sysroot 2>/dev/null)/share/doc/rust/html"
if [ ! -d "$docs" ]; then
  echo "no Rust documentation found at $docs" >&2
  exit 1
fi

work="$(mktemp -d)"
old_tree="$work/tree"
cleanup() {
  git -C "$root" worktree remove --force "$old_tree" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# A copy of the current program, so that a rebuild while this runs changes
# nothing.
cp "$new_cli" "$work/kestrix-cli"
new_cli="$work/kestrix-cli"

if [ -n "${KESTRIX_CLI_BEFORE:-}" ]; then
  old_cli="$work/kestrix-cli-before"
  cp "$KESTRIX_CLI_BEFORE" "$old_cli"
else
  echo "building $commit in $old_tree"
  git -C "$root" worktree add --detach "$old_tree" "$commit" >/dev/null 2>&1
  launcher=()
  command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S "$old_tree" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKESTRIX_TESTS=OFF -DKESTRIX_BENCH=OFF "${launcher[@]}" >/dev/null
  cmake --build "$work/build" -j2 --target kestrix-cli >/dev/null
  old_cli="$work/build/cli/kestrix-cli"
fi

# Settings with every switch on; the level is given per run.
export XDG_CONFIG_HOME="$work/config"
"$new_cli" settings --defaults | sed -e 's/\.Checked=0/.Checked=1/' >"$work/all.ini"

# The pages, spread evenly over the sorted list of the whole tree.
find "$docs" -name '*.html' -type f | LC_ALL=C sort >"$work/all-pages"
total=$(wc -l <"$work/all-pages")
if [ "$total" -lt "$count" ]; then
  count=$total
fi
awk -v n="$count" -v t="$total" 'NR > (k * t / n) { print; k++ }' "$work/all-pages" \
  >"$work/pages"

# The made pages: a head declaring (or not) a charset, and a body of text in
# it, long enough to span several of the scrambling's 16 KB pieces.
made="$work/made"
mkdir -p "$made"
repeat() { # TEXT COUNT: the text COUNT times
  local i
  for ((i = 0; i < $2; i++)); do printf '%s' "$1"; done
}
made_page() { # NAME META BODY-BYTES
  {
    printf '<!DOCTYPE html>\r\n<html><head>%s<title>t</title></head>\r\n<body class="x">\r\n' "$2"
    printf '%s' "$3"
    printf '\r\n</body></html>\r\n'
  } >"$made/$1"
}
utf8='<meta charset="utf-8">'
text=$(repeat $'<p>Caf\xC3\xA9 \xE2\x82\xAC 5, na\xC3\xAFve \xF0\x9F\x98\x80 <b>bold</b></p>\r\n' 1200)
made_page malformed-early.html "$utf8" $'<p>bad \xC3\x28 byte</p>'"$text"
made_page malformed-late.html "$utf8" "$text"$'<p>\xE2\x82 \xED\xA0\x80 \xF4\x90\x80\x80 \xC0\xAF \xFF</p>'"$text"
made_page malformed-cut.html "$utf8" "$text"$'\xE2\x82'
made_page malformed-lone.html "$utf8" $'\x80'
made_page windows-1252-undeclared.html "" \
  "$(repeat $'<p>caf\xE9 \x80 \x93quoted\x94 \x81\x8D\x8F\x90\x9D end</p>\r\n' 1500)"
made_page windows-1252-declared.html \
  '<meta http-equiv="Content-Type" content="text/html; charset=windows-1252">' \
  "$(repeat $'<p>\xC0 la carte \x85 \x99</p>\r\n' 1500)"
made_page iso-8859-2.html '<meta charset="iso-8859-2">' "$(repeat $'<p>\xB1\xE6\xEA\xB3\xF1</p>\r\n' 1500)"
made_page koi8-r.html '<meta charset="koi8-r">' "$(repeat $'<p>\xF0\xD2\xC9\xD7\xC5\xD4</p>\r\n' 1500)"
made_page shift_jis.html '<meta charset="shift_jis">' \
  "$(repeat $'<p>\x82\xA0\x82\xA2 \x83\x41 \xFF\xFF bad</p>\r\n' 1500)"
made_page euc-jp.html '<meta charset="euc-jp">' "$(repeat $'<p>\xA4\xA2\xA4\xA4</p>\r\n' 1500)"
made_page gbk.html '<meta charset="gbk">' "$(repeat $'<p>\xD6\xD0\xCE\xC4</p>\r\n' 1500)"
made_page big5.html '<meta charset="big5">' "$(repeat $'<p>\xA4\xA4\xA4\xE5</p>\r\n' 1500)"
made_page ascii-declared-other.html '<meta charset="iso-8859-7">' "$(repeat '<p>plain</p>' 1500)"
# Pages of a megabyte and more, which the program does not read into memory
# of its own but maps (see platform/InputFile.h): UTF-8, malformed UTF-8
# found after the first megabyte, and windows-1252.
large=$(repeat "$text" 40)
made_page large-utf8.html "$utf8" "$large"
made_page large-malformed.html "$utf8" "$large"$'<p>bad \xE2\x82 byte</p>'"$text"
made_page large-windows-1252.html "" "$(repeat "$(repeat $'<p>caf\xE9 \x80 end</p>\r\n' 1500)" 100)"
for endian in LE BE; do
  {
    [ "$endian" = LE ] && printf '\xFF\xFE' || printf '\xFE\xFF'
    printf '<html><head><title>t</title></head><body>\r\n<p>Caf\xC3\xA9 \xE2\x82\xAC</p>\r\n</body></html>\r\n' |
      iconv -f UTF-8 -t "UTF-16$endian"
  } >"$made/utf-16$endian.html"
done
find "$made" -name '*.html' -type f | LC_ALL=C sort >>"$work/pages"
echo "securing $(wc -l <"$work/pages") pages ($(find "$made" -type f | wc -l) made ones) of $total at levels 0 to 4 with both builds"

# One page at all levels with both programs; prints one line per difference.
compare_page() {
  local page="$1" dir
  dir="$(mktemp -d "$work/run.XXXXXX")"
  for level in 0 1 2 3 4; do
    local old_rc=0 new_rc=0
    "$old_cli" page --defaults --settings "$work/all.ini" --level "$level" \
      --output "$dir/old.html" "$page" 2>"$dir/old.err" || old_rc=$?
    "$new_cli" page --defaults --settings "$work/all.ini" --level "$level" \
      --output "$dir/new.html" "$page" 2>"$dir/new.err" || new_rc=$?
    if [ "$old_rc" != "$new_rc" ] || ! cmp -s "$dir/old.err" "$dir/new.err"; then
      echo "DIFFERENT STATUS level $level: $page ($old_rc, $new_rc)"
    elif [ "$old_rc" = 0 ] && ! cmp -s "$dir/old.html" "$dir/new.html"; then
      echo "DIFFERENT BYTES level $level: $page"
    else
      echo "same"
    fi
    rm -f "$dir/old.html" "$dir/new.html"
  done
  # Standard output, at level 2.
  local old_rc=0 new_rc=0
  "$old_cli" page --defaults --settings "$work/all.ini" --level 2 "$page" >"$dir/old.out" \
    2>"$dir/old.err" || old_rc=$?
  "$new_cli" page --defaults --settings "$work/all.ini" --level 2 "$page" >"$dir/new.out" \
    2>"$dir/new.err" || new_rc=$?
  if [ "$old_rc" != "$new_rc" ] || ! cmp -s "$dir/old.err" "$dir/new.err" ||
    ! cmp -s "$dir/old.out" "$dir/new.out"; then
    echo "DIFFERENT standard output: $page ($old_rc, $new_rc)"
  else
    echo "same"
  fi
  rm -rf "$dir"
}
export -f compare_page
export work old_cli new_cli

tr '\n' '\0' <"$work/pages" | xargs -0 -n 1 -P 2 bash -c 'compare_page "$1"' _ \
  >"$work/results"
same=$(grep -c '^same$' "$work/results" || true)
runs=$(wc -l <"$work/results")
grep -v '^same$' "$work/results" || true
echo "$same of $runs outputs identical ($(wc -l <"$work/pages") pages, levels 0 to 4 and standard output, every switch on)"
[ "$same" = "$runs" ]
