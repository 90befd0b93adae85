#!/usr/bin/env bash
# tool-escapes-probe.sh TOOLDIR: every tool that prints catalog text or file names writes a control
# character out (\x1b) and a backslash as \\, so that a title cannot drive the terminal and the
# output reads back unambiguously: a file whose name holds a real escape character and one whose
# name holds the four characters \x1b print differently. One row per printing tool.
set -u
tools=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/home/config QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME" "$work/files" "$work/dest" "$work/web\\root"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A real escape sequence in one name, its written-out look (backslash, x, 1, b) in the other.
real="real"$'\x1b'"[2J.ppm"
typed='typed\x1b[2J.ppm'
for name in "$real" "$typed"; do
    { printf 'P6\n4 2\n255\n'; head -c 24 /dev/zero | tr '\0' 'd'; } > "$work/files/$name"
done
catalog="$work/c.sqlite"
"$tools/ovn-import" "$catalog" Shots "$work/files" >"$work/import.out" 2>&1 || fail "the import failed: $(cat "$work/import.out")"
"$tools/ovn-catalog" "$catalog" add-category "Col\\"$'\x1b'"[31m" C >/dev/null 2>&1 || fail "no hostile collection"
shots=$("$tools/ovn-catalog" "$catalog" categories | awk -F'\t' '$3 == "Shots" { print $1 }')
echo '{ CATALOG = Shots; LINES = ( { FIELDTITLE = Name; OPERATORID = 2; VALUE = "ppm"; } ); }' > "$work/find.plist"

# What a real escape looks like once written out, and what the typed name looks like.
want_real='real\x1b[2J'
want_typed='typed\\x1b[2J'

# tool | arguments | which names it prints (both, or the collection)
while IFS='|' read -r label what cmd; do
    [ -n "$label" ] || continue
    eval "set -- $cmd"
    "$@" >"$work/out" 2>&1 </dev/null
    if grep -q $'\x1b' "$work/out"; then
        fail "$label: a raw escape character reached the output"
    fi
    case "$what" in
        both)
            grep -qF -- "$want_real" "$work/out" || fail "$label: the real escape is not written out: $(head -c 300 "$work/out" | cat -v)"
            grep -qF -- "$want_typed" "$work/out" || fail "$label: the typed backslash is not doubled: $(head -c 300 "$work/out" | cat -v)"
            ;;
        collection)
            grep -qF -- 'Col\\\x1b[31m' "$work/out" || fail "$label: the collection's name is not written out: $(head -c 300 "$work/out" | cat -v)"
            ;;
        path)
            grep -qF -- 'web\\root' "$work/out" || fail "$label: the backslash of the path is not doubled: $(head -c 300 "$work/out" | cat -v)"
            ;;
    esac
done <<TABLE
ovn-import|both|cat "$work/import.out"
ovn-find|both|"$tools/ovn-find" "$catalog" "$work/find.plist"
ovn-express|both|"$tools/ovn-express" "$catalog" --quick All:ppm
ovn-catalog media|both|"$tools/ovn-catalog" "$catalog" media
ovn-catalog list|both|"$tools/ovn-catalog" "$catalog" list "$shots"
ovn-catalog categories|collection|"$tools/ovn-catalog" "$catalog" categories
ovn-catalog-window list|both|"$tools/ovn-catalog-window" "$catalog" --category Shots --list
ovn-catalog-window outline|collection|"$tools/ovn-catalog-window" "$catalog" --outline
ovn-export|both|"$tools/ovn-export" "$catalog" Shots "$work/dest"
ovn-mail|both|"$tools/ovn-mail" "$catalog" Shots --size 0 --command true
ovn-publish|path|"$tools/ovn-publish" "$catalog" Shots "$work/web\\\\root"
ovn-open|both|"$tools/ovn-open" --dry-run "$work/files/$real" "$work/files/$typed"
ovn-filetype|both|"$tools/ovn-filetype" "$work/files/$real" "$work/files/$typed"
ovn-metadump|both|"$tools/ovn-metadump" "$work/files/$real" "$work/files/$typed"
ovn-slideshow|both|"$tools/ovn-slideshow" "$work/files/$real" "$work/files/$typed"
ovn-imgload|both|"$tools/ovn-imgload" "$work/files/$real" -o "$work/files/$typed.png"
TABLE

# A name with the byte 0xE9, which is not UTF-8, and one typed with the four characters \xE9: the
# import names the first as not imported, written \xE9, and prints the second with its backslash
# doubled, so that the two never look alike.
mkdir -p "$work/bytes"
for name in "caf"$'\xe9'".ppm" 'caf\xE9.ppm'; do
    { printf 'P6\n4 2\n255\n'; head -c 24 /dev/zero | tr '\0' 'd'; } > "$work/bytes/$name"
done
"$tools/ovn-import" "$work/bytes.sqlite" Bytes "$work/bytes" >"$work/bytes.out" 2>&1
grep -qF -- 'caf\xE9.ppm: the name is not valid UTF-8' "$work/bytes.out" \
    || fail "ovn-import: the byte that is not UTF-8 is not written out: $(head -c 300 "$work/bytes.out" | cat -v)"
grep -qF -- 'caf\\xE9.ppm' "$work/bytes.out" \
    || fail "ovn-import: the typed backslash is not doubled: $(head -c 300 "$work/bytes.out" | cat -v)"
! grep -qF -- 'caf\\xE9.ppm: the name is not valid UTF-8' "$work/bytes.out" \
    || fail "ovn-import: the two names look alike: $(head -c 300 "$work/bytes.out" | cat -v)"

[ "$failures" -eq 0 ] && echo "tool escapes probe: every printing tool writes control characters and backslashes out"
exit $((failures > 0))
