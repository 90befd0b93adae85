#!/usr/bin/env bash
# ovn-catalog-window prints a catalog's collection as a contact sheet into a PDF with as many pages
# as the sheet's layout says (A4 portrait, 10-point margins: 575 x 822 points to print on), and
# says so in its status line. Skips (77) without pdfinfo.
# Arguments: the ovn-import and ovn-catalog-window programs.
set -euo pipefail
import=$1 window=$2
command -v pdfinfo >/dev/null || { echo "pdfinfo not installed (poppler-utils)"; exit 77; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export XDG_CONFIG_HOME="$dir/config" QT_QPA_PLATFORM=offscreen
mkdir "$dir/shots"
for n in $(seq 1 13); do
    name=$(printf 'img%02d.ppm' "$n")
    { printf 'P6\n8 6\n255\n'; head -c 144 /dev/zero | tr '\0' "\\$((100 + n))"; } > "$dir/shots/$name"
done
"$import" --quiet "$dir/cat.sqlite" Sheet "$dir/shots" >/dev/null

# per line, style, further options -> pages
check() {
    local perline=$1 style=$2 pages=$3 status=$4
    shift 4
    out=$("$window" "$dir/cat.sqlite" --category Sheet --print-pdf "$dir/sheet.pdf" --per-line "$perline" \
        --print-style "$style" "$@" 2>/dev/null)
    grep -qxF "$status" <<<"$out" || { echo "per line $perline style $style $*: status not \"$status\": $out"; exit 1; }
    got=$(pdfinfo "$dir/sheet.pdf" | sed -n 's/^Pages: *//p')
    [ "$got" = "$pages" ] || { echo "per line $perline style $style $*: $got pages, expected $pages"; exit 1; }
    pdfinfo "$dir/sheet.pdf" | grep -q '^Page size:.*(A4)' || { echo "not A4"; exit 1; }
    rm -f "$dir/sheet.pdf"
}
check 6 0 1 "6 Images per Line (1 page)"      # cells 91 x 91, 8 lines a page, 3 lines
check 2 0 4 "2 Images per Line (4 pages)"     # cells 283 x 283, 2 lines a page, 7 lines
check 3 1 2 "3 Images per Line (2 pages)"     # cells 182 x 204, 3 lines a page, 5 lines
check 1 3 13 "1 Image per Line (13 pages)"    # one cell a page
check 1 0 3 "1 Image per Line (3 pages)" --selection-only --select img09.ppm,img02.ppm,img05.ppm

# Nothing selected: nothing to print, no file, status 1.
if "$window" "$dir/cat.sqlite" --category Sheet --print-pdf "$dir/sheet.pdf" --selection-only >/dev/null 2>&1; then
    echo "an empty sheet was printed"; exit 1
fi
[ ! -e "$dir/sheet.pdf" ] || { echo "an empty sheet left a file"; exit 1; }
echo ok
