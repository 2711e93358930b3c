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
# shellcheck source=bench/rust-site.sh
source "$(dirname "$0")/rust-site.sh" "${1:-}" "${2:-2000}"
# A copy of the program, so that a rebuild while this runs changes nothing.
cp "$cli" "$work/kestrix-cli"
cli="$work/kestrix-cli"

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

# Recovers one page and compares it with its backup; prints a line when
# they differ or recover failed. Run for many pages at a time by xargs.
cat >"$work/check-one" <<'CHECK'
#!/usr/bin/env bash
cli="$1" level="$2" file="$3"
backup="$(dirname "$file")/Kestrix Backup/$(basename "$file")"
out="$(mktemp)"
if ! "$cli" recover --output "$out" "$file" 2>"$out.err"; then
  echo "level $level $file: $(head -n 1 "$out.err")"
elif ! cmp -s "$out" "$backup"; then
  echo "level $level $file: the recovered page differs from the original"
fi
rm -f "$out" "$out.err"
CHECK
chmod +x "$work/check-one"

checked=0
: >"$work/failures"
for level in 1 2 3 4; do
  site="$work/level$level"
  mkdir -p "$site"
  tar -C "$docs" -cf - -T "$work/pages" | tar -C "$site" -xf -
  "$cli" secure -e -a --settings "$work/all.ini" --level "$level" --filter '*.html' "$site" \
    2>"$work/secure.log" || { tail -n 3 "$work/secure.log"; exit 1; }
  sed "s|^\./|$site/|" "$work/pages" | tr '\n' '\0' |
    xargs -0 -n 1 -P "$(nproc)" "$work/check-one" "$cli" "$level" | tee -a "$work/failures"
  checked=$((checked + $(wc -l <"$work/pages")))
  rm -rf "$site"
done
failed=$(wc -l <"$work/failures")
echo "$checked recovered, $((checked - failed)) identical, $failed failed"
[ "$failed" -eq 0 ]
