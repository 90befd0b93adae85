#!/usr/bin/env bash
# ovn-import's roads (a folder, a dropped link, a smart import, a re-scan) with links another account
# laid in the imported folder: a link to this account's private picture, or to the layer's own
# picture, is named ("a link that belongs to another user; it is not followed") and not catalogued.
# Needs root to make links another account owns (status 77 otherwise).
# Usage: import-links-probe.sh OVN-IMPORT
set -uo pipefail
tool=$1
[ "$(id -u)" -eq 0 ] || { echo "probe: needs root to lay another account's links" >&2; exit 77; }
stranger=65534
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export XDG_CONFIG_HOME="$dir/config" QT_QPA_PLATFORM=offscreen
failures=0
fail() { echo "probe: $*" >&2; failures=$((failures + 1)); }
picture() { { printf 'P6\n4 3\n255\n'; head -c 36 /dev/zero | tr '\0' "\\$2"; } > "$1"; }
reason="a link that belongs to another user; it is not followed"

# A shared folder with one picture, a private picture of this account's (600 in a 700 folder) and
# one of the other account's. $1: the name of the link laid into the shared folder, $2: its target.
setup() {
    rm -rf "$dir/shared" "$dir/private" "$dir/his" "$dir/cat.sqlite"
    mkdir -p "$dir/shared" "$dir/private" "$dir/his"
    picture "$dir/shared/plain.ppm" 101
    picture "$dir/private/secret.ppm" 102
    picture "$dir/his/own.ppm" 103
    chmod 600 "$dir/private/secret.ppm"
    chmod 700 "$dir/private"
    chown -R "$stranger" "$dir/his"
    ln -s "$2" "$dir/shared/$1"
    chown -h "$stranger" "$dir/shared/$1"
}
# How many entries have a path that ends in one of the names given (a link is catalogued under the
# path it leads to).
catalogued() {
    local name total=0
    for name in "$@"; do
        total=$((total + $(sqlite3 "$dir/cat.sqlite" "select count(*) from strvfile where absolutepath like '%$name'")))
    done
    echo "$total"
}

# road | the link's target | catalogued?
while IFS='|' read -r road target followed; do
    [ -n "$road" ] || continue
    case "$target" in
        secret) to="$dir/private/secret.ppm" ;;
        his) to="$dir/his/own.ppm" ;;
        etc) to=/etc/hostname ;;
    esac
    name="$road, another's link to $target"
    status=0
    case "$road" in
        folder)
            setup laid.ppm "$to"
            "$tool" "$dir/cat.sqlite" Shots "$dir/shared" >"$dir/out" 2>&1 || status=$?
            ;;
        dropped)
            setup laid.ppm "$to"
            "$tool" "$dir/cat.sqlite" Shots "$dir/shared/laid.ppm" "$dir/shared/plain.ppm" >"$dir/out" 2>&1 \
                || status=$?
            ;;
        smart)
            setup laid.ppm "$to"
            "$tool" --smart "$dir/cat.sqlite" Smart "$dir/shared" >"$dir/out" 2>&1 || status=$?
            ;;
        rescan)
            # Catalogued while a picture, then laid over by the other account's link.
            setup laid.ppm "$to"
            rm "$dir/shared/laid.ppm"
            picture "$dir/shared/laid.ppm" 104
            "$tool" "$dir/cat.sqlite" Shots "$dir/shared" >/dev/null 2>&1
            rm "$dir/shared/laid.ppm"
            ln -s "$to" "$dir/shared/laid.ppm"
            chown -h "$stranger" "$dir/shared/laid.ppm"
            before=$(sqlite3 "$dir/cat.sqlite" "select hex(thumbimage) from strvfile where absolutepath like '%laid.ppm'")
            "$tool" --rescan "$dir/cat.sqlite" Shots >"$dir/out" 2>&1 || status=$?
            after=$(sqlite3 "$dir/cat.sqlite" "select hex(thumbimage) from strvfile where absolutepath like '%laid.ppm'")
            ;;
    esac
    [ "$(catalogued plain.ppm)" -ge 1 ] || fail "$name: the plain picture was not catalogued: $(head -c 300 "$dir/out")"
    if [ "$followed" = yes ]; then
        [ "$(catalogued laid.ppm own.ppm)" -ge 1 ] || fail "$name: the link was not followed: $(head -c 300 "$dir/out")"
        grep -qF "$reason" "$dir/out" && fail "$name: the link is named as not followed"
    else
        if [ "$road" = rescan ]; then
            [ "$before" = "$after" ] || fail "$name: the re-scan read what the link leads to"
        else
            [ "$(catalogued laid.ppm secret.ppm hostname)" = 0 ] || fail "$name: what the link leads to was catalogued"
        fi
        grep -qF "$reason" "$dir/out" || fail "$name: the link is not named: $(head -c 300 "$dir/out")"
        [ "$status" = 1 ] || fail "$name: status $status, not 1"
    fi
done <<'TABLE'
folder|secret|no
folder|etc|no
folder|his|no
dropped|secret|no
dropped|his|no
smart|secret|no
smart|his|no
rescan|secret|no
TABLE

[ "$failures" -eq 0 ] && echo "import links probe: another account's links are not followed"
exit $((failures > 0))
