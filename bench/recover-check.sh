#!/usr/bin/env bash
# Checks that kestrix-cli recover gives back the exact bytes of real pages:
# PAGES pages of the installed Rust documentation that declare UTF-8, spread
# over the whole tree, secured in place with scrambling and the access
# script with all eight switches (no optimisation) at levels 1 to 4; each
# secured page recovered and compared with its backup byte for byte.
# Prints a line per page that differs or fails, and a summary; exits 1 when
# any did.
# Usage: bench/recover-check.sh [BUILD_DIR] [PAGES]   (defaults: build, 2000)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
count="${2:-2000}"
cli="${KESTRIX_CLI:-$build/cli/kestrix-cli}"
if [ ! -x "$cli" ]; then
  echo "missing $cli: build the project first (bash scripts/build)" >&2
  exit 1
fi
docs="$(rustc --print sysroot 2>/dev/null)/share/doc/rust/html"
if [ ! -d "$docs" ]; then
  echo "no Rust documentation found at $docs" >&2
  exit 1
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config"

# Every n-th page that declares UTF-8, so that every part of the tree is in.
(cd "$docs" && grep -rlis --include='*.html' 'charset="\?utf-8' . | sort) >"$work/utf8"
total=$(wc -l <"$work/utf8")
step=$((total / count > 0 ? total / count : 1))
awk -v step="$step" -v count="$count" 'NR % step == 0 && n < count {print; n++}' \
  "$work/utf8" >"$work/pages"
echo "$(wc -l <"$work/pages") pages of $total that declare UTF-8"

cat >"$work/all.ini" <<'INI'
[FormEncryptionOptions]
CheckBoxRightClicking.Checked=1
CheckBoxSelection.Checked=1
CheckBoxDragAndDrop.Checked=1
CheckBoxStatusBar.Checked=1
CheckBoxScriptErrors.Checked=1
CheckBoxBreakOutOfFrames.Checked=1
CheckBoxPrinting.Checked=1
CheckBoxOffline.Checked=1
INI

checked=0
failed=0
for level in 1 2 3 4; do
  site="$work/level$level"
  mkdir -p "$site"
  tar -C "$docs" -cf - -T "$work/pages" | tar -C "$site" -xf -
  "$cli" secure -e -a --settings "$work/all.ini" --level "$level" --filter '*.html' "$site" \
    2>"$work/secure.log" || { tail -n 3 "$work/secure.log"; exit 1; }
  while IFS= read -r page; do
    file="$site/${page#./}"
    backup="$(dirname "$file")/Kestrix Backup/$(basename "$file")"
    checked=$((checked + 1))
    if ! "$cli" recover --output "$work/recovered" "$file" 2>"$work/recover.log"; then
      echo "level $level $page: $(head -n 1 "$work/recover.log")"
      failed=$((failed + 1))
    elif ! cmp -s "$work/recovered" "$backup"; then
      echo "level $level $page: the recovered page differs from the original"
      failed=$((failed + 1))
    fi
  done <"$work/pages"
  rm -rf "$site"
done
echo "$checked recovered, $((checked - failed)) identical, $failed failed"
[ "$failed" -eq 0 ]
