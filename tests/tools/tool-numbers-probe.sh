#!/usr/bin/env bash
# tool-numbers-probe.sh TOOLDIR: every number a tool reads from its command line is refused when it
# is not finite or out of the option's range: status 2, a message on standard error that names the
# option, nothing on standard output, nothing left behind (no catalog, no picture), and no word of
# Qt's about a missing runtime folder.
set -u
tools=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/home/config QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME"
{ printf 'P6\n4 2\n255\n'; head -c 24 /dev/zero; } > "$work/in.ppm"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# tool | arguments (IN is a small picture) | the option the message names (or its whole words, where
# an option takes a few codes and every other text must get the same answer)
while IFS='|' read -r tool args option; do
    [ -n "$tool" ] || continue
    dir="$work/run-$RANDOM"
    mkdir "$dir"
    # shellcheck disable=SC2086
    (cd "$dir" && timeout 300 env -u XDG_RUNTIME_DIR "$tools/$tool" ${args//IN/$work/in.ppm} >"$work/out" 2>"$work/err" </dev/null)
    got=$?
    [ "$got" -eq 2 ] || fail "$tool $args: status $got, not 2 ($(head -c 200 "$work/err"))"
    grep -qF -- "$option" "$work/err" || fail "$tool $args: the message does not name $option: $(head -c 200 "$work/err")"
    # Run as from cron or ssh, without a runtime folder: Qt's notice of it is no answer of the tool's.
    grep -q XDG_RUNTIME_DIR "$work/err" && fail "$tool $args: Qt's runtime folder notice on standard error"
    [ -s "$work/out" ] && fail "$tool $args: wrote to standard output: $(head -c 200 "$work/out")"
    [ -z "$(ls -A "$dir")" ] || fail "$tool $args: left $(ls -A "$dir" | head -3 | tr '\n' ' ')"
done <<'TABLE'
ovn-adjust|IN out.jpg --exposure nan|--exposure
ovn-adjust|IN out.jpg --straighten inf|--straighten
ovn-adjust|IN out.jpg --straighten -inf|--straighten
ovn-adjust|IN out.jpg --gamma 3.5|--gamma
ovn-adjust|IN out.jpg --tint 1e999|--tint
ovn-adjust|IN out.jpg --crop 0,0,nan,5|--crop
ovn-adjust|IN out.jpg --quality 101|--quality
ovn-adjust|IN out.jpg --orientation 99999999999999999999|--orientation
ovn-imgload|IN --time nan -o out.png|--time
ovn-imgload|IN --shrink -1 -o out.png|--shrink
ovn-movie|IN --rate inf|--rate
ovn-movie|IN --seek nan|--seek
ovn-view|IN --size 0x10|--size
ovn-view|IN --orientation 1.5|--orientation
ovn-slideshow|--size 99999x10 IN|--size
ovn-import|--threads nan cat.sqlite Top IN|--threads
ovn-import|--batch 0 cat.sqlite Top IN|--batch
ovn-burn|disc.iso --medium-size -5 IN|--medium-size
ovn-burn|disc.iso --cancel-at 101 IN|--cancel-at
ovn-export|cat.sqlite Top dest --size 9|--size takes 0, 1, 2, 3 or 6, not "9"
ovn-export|cat.sqlite Top dest --custom inf|--custom
ovn-mail|cat.sqlite Top --size nan|--size takes 0, 1, 2, 3 or 5, not "nan"
ovn-mail|cat.sqlite Top --size 4|--size takes 0, 1, 2, 3 or 5, not "4"
ovn-export|cat.sqlite Top dest --size 4|--size takes 0, 1, 2, 3 or 6, not "4"
ovn-export|cat.sqlite Top dest --size 5|--size
ovn-express|cat.sqlite --time-limit inf --quick All:x|--time-limit
ovn-express|cat.sqlite --rate 6 --quick All:x|--rate
ovn-lighttable|cat.sqlite Top --wait nan|--wait
ovn-catalog-window|cat.sqlite --rate 9|--rate
ovn-catalog-window|cat.sqlite --stay inf|--stay
ovn-mediaview-demo|--items nan|--items
ovn-capture|--cancel-after -2 --list|--cancel-after
ovn-preferences|--vendor 7|--vendor
ovn-autofill|cat.sqlite Top append --folders keywords 1e3|--folders
TABLE

[ "$failures" -eq 0 ] || exit 1
echo "ok: numbers refused"
