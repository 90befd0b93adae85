#!/usr/bin/env bash
# output-links-probe.sh TOOLDIR: export, web gallery, e-mail and disc image write into their
# destination through a temporary file and a rename, and follow a link they find there (a file's
# name or the gallery's folder) only when it belongs to this account or root, in a folder no other
# account may rename in (a stricter form of the kernel's protected_symlinks rule). A link another account
# planted leaves its target as it was; one of the user's own (a gallery linked to a web root) is
# followed. Rows with another account's link need root to make it (skipped otherwise).
set -u
tools=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/home/config QT_QPA_PLATFORM=offscreen TMPDIR=$work/tmp
mkdir -p "$HOME" "$work/files" "$work/tmp"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
stranger=65534
root=0
[ "$(id -u)" -eq 0 ] && root=1
for n in 1 2; do
    { printf 'P6\n4 2\n255\n'; head -c 24 /dev/zero | tr '\0' 'd'; } > "$work/files/img$n.ppm"
done
catalog="$work/c.sqlite"
"$tools/ovn-import" --quiet "$catalog" Shots "$work/files" >/dev/null 2>&1 || { echo "the import failed"; exit 1; }

# A fresh shared folder (sticky, writable by all, owned by this account) and a private one with the
# file a planted link points at. $1: who owns the link, $2: the link's name in the shared folder,
# $3: the target's name in the private folder, $4: "file" for a target that is there, "dir" for a
# folder, "none" for a dangling link.
setup() {
    rm -rf "$work/shared" "$work/mine"
    mkdir -p "$work/shared" "$work/mine"
    chmod 1777 "$work/shared"
    case "$4" in
        file) echo precious > "$work/mine/$3" ;;
        dir) mkdir -p "$work/mine/$3" ;;
    esac
    ln -s "$work/mine/$3" "$work/shared/$2"
    [ "$1" = own ] || chown -h "$stranger" "$work/shared/$2"
}
leftovers() { find "$work/shared" "$work/mine" -name '.*' -type f | head -3; }

# output | link owner | followed? | the link's name | target | target kind
while IFS='|' read -r output owner followed link target kind; do
    [ -n "$output" ] || continue
    [ "$owner" = stranger ] && [ "$root" -eq 0 ] && continue
    setup "$owner" "$link" "$target" "$kind"
    name="$output, $owner's link $link -> $target ($kind)"
    status=0
    case "$output" in
        export) "$tools/ovn-export" "$catalog" Shots "$work/shared" >"$work/out" 2>&1 || status=$? ;;
        copy) "$tools/ovn-export" "$catalog" Shots "$work/shared" --size 6 >"$work/out" 2>&1 || status=$? ;;
        publish) "$tools/ovn-publish" "$catalog" Shots "$work/shared" >"$work/out" 2>&1 || status=$? ;;
        burn) "$tools/ovn-burn" "$work/shared/$link" "$work/files/img1.ppm" >"$work/out" 2>&1 || status=$? ;;
    esac
    if [ "$followed" = yes ]; then
        [ "$status" = 0 ] || fail "$name: status $status: $(head -c 300 "$work/out")"
        case "$kind" in
            dir) [ -f "$work/mine/$target/index.html" ] || fail "$name: the gallery is not in the linked folder" ;;
            *) [ -s "$work/mine/$target" ] && ! grep -qx precious "$work/mine/$target" \
                   || fail "$name: nothing written through the link" ;;
        esac
    else
        [ "$status" = 1 ] || [ "$output" = publish ] || fail "$name: status $status, not 1: $(head -c 300 "$work/out")"
        case "$kind" in
            file) grep -qx precious "$work/mine/$target" || fail "$name: the link's target was overwritten" ;;
            none) [ -e "$work/mine/$target" ] && fail "$name: the link's target was made" ;;
            dir) [ -z "$(ls -A "$work/mine/$target")" ] || fail "$name: the gallery went into the planted folder" ;;
        esac
        [ -L "$work/shared/$link" ] || fail "$name: the link was replaced"
        if [ "$output" = publish ]; then
            [ "$status" = 0 ] && [ -f "$work/shared/Ostrevan PublishToWeb-1/index.html" ] \
                || fail "$name: the gallery was not made beside the planted link: $(head -c 300 "$work/out")"
        fi
    fi
    [ -z "$(leftovers)" ] || fail "$name: temporary files left: $(leftovers)"
done <<'TABLE'
export|stranger|no|img1.jpg|precious.jpg|file
export|stranger|no|img1.jpg|precious.jpg|none
export|own|yes|img1.jpg|precious.jpg|file
copy|stranger|no|img1.ppm|precious.ppm|none
copy|own|yes|img1.ppm|precious.ppm|none
publish|stranger|no|Ostrevan PublishToWeb|site|dir
publish|own|yes|Ostrevan PublishToWeb|site|dir
burn|stranger|no|disc.iso|precious.iso|file
burn|stranger|no|disc.iso|precious.iso|none
burn|own|yes|disc.iso|precious.iso|none
TABLE

# Links along the path: the folder named on the command line is a link in the folder "drop" (owned
# by $2 with mode $3), laid by $1 and leading to a private folder. It is followed only when it is
# this account's: not even when it is the owner's who alone may write in "drop" (he may rename
# anything there, and lead the output onto this account's files).
setup_path() {
    rm -rf "$work/drop" "$work/mine"
    mkdir -p "$work/drop" "$work/mine"
    ln -s "$work/mine" "$work/drop/exports"
    [ "$1" = own ] || chown -h "$stranger" "$work/drop/exports"
    [ "$2" = own ] || chown "$stranger" "$work/drop"
    chmod "$3" "$work/drop"
}
# output | link owner | drop's owner | drop's mode | followed?
while IFS='|' read -r output owner holder mode followed; do
    [ -n "$output" ] || continue
    { [ "$owner" = stranger ] || [ "$holder" = stranger ]; } && [ "$root" -eq 0 ] && continue
    setup_path "$owner" "$holder" "$mode"
    name="$output through $owner's link to the chosen folder in a $mode folder of $holder's"
    status=0
    case "$output" in
        export) "$tools/ovn-export" "$catalog" Shots "$work/drop/exports" >"$work/out" 2>&1 || status=$? ;;
        publish) "$tools/ovn-publish" "$catalog" Shots "$work/drop/exports" >"$work/out" 2>&1 || status=$? ;;
        burn) "$tools/ovn-burn" "$work/drop/exports/disc.iso" "$work/files/img1.ppm" >"$work/out" 2>&1 || status=$? ;;
    esac
    if [ "$followed" = yes ]; then
        [ "$status" = 0 ] || fail "$name: status $status: $(head -c 300 "$work/out")"
        [ -n "$(ls -A "$work/mine")" ] || fail "$name: nothing written through the link"
    else
        [ "$status" = 0 ] && fail "$name: status 0: $(head -c 300 "$work/out")"
        [ -z "$(ls -A "$work/mine")" ] || fail "$name: written into the private folder: $(ls -A "$work/mine")"
        grep -q "drop/exports" "$work/out" || [ "$output" = publish ] \
            || fail "$name: the link is not named: $(head -c 300 "$work/out")"
    fi
done <<'TABLE'
export|stranger|own|1777|no
export|stranger|stranger|0777|no
export|stranger|stranger|1777|no
export|stranger|stranger|0755|no
export|own|own|1777|yes
publish|stranger|stranger|0777|no
publish|stranger|stranger|0755|no
burn|stranger|stranger|0777|no
burn|stranger|stranger|0755|no
TABLE

# A file an export replaces comes out this account's, with no set-user or set-group id and none of
# another account's permissions.
rm -rf "$work/replaced"
mkdir -p "$work/replaced"
echo old > "$work/replaced/img1.jpg"
echo old > "$work/replaced/img2.jpg"
chmod 4755 "$work/replaced/img1.jpg"
chmod 6777 "$work/replaced/img2.jpg"
[ "$root" -eq 1 ] && chown "$stranger" "$work/replaced/img2.jpg"
status=0
"$tools/ovn-export" "$catalog" Shots "$work/replaced" >"$work/out" 2>&1 || status=$?
[ "$status" = 0 ] || fail "export over set-id files: status $status: $(head -c 300 "$work/out")"
[ "$(stat -c %a "$work/replaced/img1.jpg")" = 755 ] \
    || fail "export over my set-user-id file: mode $(stat -c %a "$work/replaced/img1.jpg")"
if [ "$root" -eq 1 ]; then
    [ "$(stat -c %a:%u "$work/replaced/img2.jpg")" = "$(printf '%o' $((0666 & ~$(umask))))":0 ] \
        || fail "export over another's set-id file: $(stat -c %a:%u "$work/replaced/img2.jpg")"
fi

# E-mail: the attachments are made in a private folder; one another account planted in its place is
# not used, and nothing is written where it points.
if [ "$root" -eq 1 ]; then
    mkdir -p "$work/elsewhere"
    ln -s "$work/elsewhere" "$TMPDIR/ostrevan-mail-$(id -u)"
    chown -h "$stranger" "$TMPDIR/ostrevan-mail-$(id -u)"
    status=0
    "$tools/ovn-mail" "$catalog" Shots --size 0 --command true >"$work/out" 2>&1 || status=$?
    [ "$status" = 1 ] || fail "mail, planted folder: status $status: $(head -c 300 "$work/out")"
    [ -z "$(ls -A "$work/elsewhere")" ] || fail "mail, planted folder: attachments went into it"
    rm -f "$TMPDIR/ostrevan-mail-$(id -u)"
fi
status=0
"$tools/ovn-mail" "$catalog" Shots --size 0 --command true >"$work/out" 2>&1 || status=$?
[ "$status" = 0 ] || fail "mail: status $status: $(head -c 300 "$work/out")"
[ "$(grep -c '^attached: ' "$work/out")" = 2 ] || fail "mail: not two attachments: $(head -c 300 "$work/out")"
[ -z "$(find "$TMPDIR" -name '.*' -type f)" ] || fail "mail: temporary files left"

[ "$failures" -eq 0 ] && echo "output links probe: links followed only by their owner's right, files renamed into place"
exit $((failures > 0))
