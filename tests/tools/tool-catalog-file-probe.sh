#!/usr/bin/env bash
# tool-catalog-file-probe.sh TOOLDIR: a tool that was not asked to make a catalog never makes one. Given
# a catalog file that is not there (a mistyped name), each refuses with status 1 and the program's
# words, "Database connection failed: " and the reason, and leaves no file behind; given a file that
# holds no catalog (an empty one), each says so and leaves it as it was. The tools that import, and
# ovn-catalog's "create", make the catalog they are asked for. The output tools refuse a category
# one of whose files is missing, naming it.
set -u
tools=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/home/config QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME" "$work/dest" "$work/files"
{ printf 'P6\n4 2\n255\n'; head -c 24 /dev/zero; } > "$work/files/in.ppm"
echo '{ CATALOG = Top; LINES = ( { FIELDTITLE = Name; OPERATORID = 2; VALUE = "ppm"; } ); }' > "$work/find.plist"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# tool | arguments after the catalog
tools_table() {
    cat <<'TABLE'
ovn-find|FIND
ovn-express|--quick All:x
ovn-export|Top DEST
ovn-mail|Top --command true
ovn-publish|Top DEST
ovn-autofill|Top append keywords=x
ovn-users|level 1 nobody
ovn-users|login admin
ovn-users|first-run admin Admin
ovn-catalog|media
ovn-catalog|categories
ovn-catalog-window|--list
ovn-lighttable|Top
TABLE
}

for kind in missing empty; do
    while IFS='|' read -r tool args; do
        [ -n "$tool" ] || continue
        catalog="$work/cat-$RANDOM.sqlite"
        [ "$kind" = empty ] && : > "$catalog"
        args=${args//FIND/$work/find.plist}
        # shellcheck disable=SC2086
        printf 'secret\n' | timeout 300 "$tools/$tool" "$catalog" ${args//DEST/$work/dest} >"$work/out" 2>&1
        got=$?
        name="$kind file: $tool $args"
        [ "$got" -eq 1 ] || fail "$name: status $got, not 1: $(head -c 300 "$work/out")"
        grep -qF "Database connection failed: " "$work/out" \
            || fail "$name: not the program's words: $(head -c 300 "$work/out")"
        if [ "$kind" = missing ]; then
            grep -qF "does not exist" "$work/out" || fail "$name: no reason given: $(head -c 300 "$work/out")"
            [ -e "$catalog" ] && fail "$name: made $catalog"
        else
            grep -qF "holds no catalog" "$work/out" || fail "$name: no reason given: $(head -c 300 "$work/out")"
            [ -s "$catalog" ] && fail "$name: wrote into the empty file"
        fi
        [ -z "$(ls -A "$work/dest")" ] || fail "$name: wrote into the destination"
        rm -f "$catalog"
    done < <(tools_table)
done

# Asked to make one, they do.
"$tools/ovn-import" --quiet "$work/made.sqlite" Top "$work/files" >"$work/out" 2>&1 \
    || fail "ovn-import made no catalog: $(head -c 300 "$work/out")"
"$tools/ovn-catalog" "$work/created.sqlite" create >"$work/out" 2>&1 \
    || fail "ovn-catalog create made no catalog: $(head -c 300 "$work/out")"
"$tools/ovn-find" "$work/made.sqlite" "$work/find.plist" >"$work/out" 2>&1 \
    && grep -qx "found: 1" "$work/out" || fail "ovn-find on the catalog made: $(head -c 300 "$work/out")"

# A category one of whose files is gone goes out nowhere, and the output tools name that file.
mkdir -p "$work/two" "$work/out-dest"
cp "$work/files/in.ppm" "$work/two/kept.ppm"
cp "$work/files/in.ppm" "$work/two/gone.ppm"
"$tools/ovn-import" --quiet "$work/two.sqlite" Two "$work/two" >"$work/out" 2>&1 \
    || fail "ovn-import of two files: $(head -c 300 "$work/out")"
rm "$work/two/gone.ppm"
for run in "ovn-export|Two $work/out-dest" "ovn-mail|Two --command true" "ovn-publish|Two $work/out-dest"; do
    # shellcheck disable=SC2086
    timeout 300 "$tools/${run%%|*}" "$work/two.sqlite" ${run#*|} >"$work/out" 2>&1
    got=$?
    [ "$got" -eq 1 ] || fail "${run%%|*} with a missing file: status $got, not 1: $(head -c 300 "$work/out")"
    grep -qF "Media file not found: 1 file is not where the catalog says: $work/two/gone.ppm" "$work/out" \
        || fail "${run%%|*} does not name the missing file: $(head -c 300 "$work/out")"
    [ -z "$(ls -A "$work/out-dest")" ] || fail "${run%%|*} wrote with a file missing"
done

[ "$failures" -eq 0 ] && echo "tool catalog file probe: no tool made a catalog it was not asked for"
exit $((failures > 0))
