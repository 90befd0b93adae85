#!/usr/bin/env bash
# ovn-movie as checks outside the project run it: backend, audio, size, duration, position after
# playing, the grab, and "failed: ..." with status 1 for a file it cannot play.
set -euo pipefail
tool=$1
command -v ffmpeg >/dev/null || { echo "no ffmpeg: skipped"; exit 0; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export HOME=$dir XDG_CONFIG_HOME=$dir/config
ffmpeg -loglevel error -f lavfi -i testsrc=size=320x240:rate=25 -t 2 -c:v libx264 -pix_fmt yuv420p "$dir/m.mp4"
out=$("$tool" "$dir/m.mp4" --play 0.5 --grab "$dir/g.png" 2>/dev/null)
grep -qx 'backend gstreamer' <<<"$out" || { echo "got: $out" >&2; exit 1; }
grep -Eqx 'audio (none|.+)' <<<"$out" || { echo "got: $out" >&2; exit 1; }
grep -qx 'natural 320x240' <<<"$out" || { echo "got: $out" >&2; exit 1; }
grep -Eqx 'duration (19[0-9][0-9]|20[0-9][0-9]) ms' <<<"$out" || { echo "got: $out" >&2; exit 1; }
grep -Eqx 'position [0-9]+ ms rate 1' <<<"$out" || { echo "got: $out" >&2; exit 1; }
[ -s "$dir/g.png" ] || { echo "no grab written" >&2; exit 1; }
# Without Landlock the program says so once, as it does for its decoders.
said=$(OVN_DECODER_TEST_NO_LANDLOCK=1 "$tool" "$dir/m.mp4" --play 0.5 2>&1 >/dev/null | grep -c 'one protection less' || true)
[ "$said" = 1 ] || { echo "said $said times that Landlock is missing" >&2; exit 1; }
head -c 4096 /dev/zero | tr '\0' 'Z' > "$dir/bad.mp4"
for file in "$dir/bad.mp4" "$dir/missing.mov"; do
    status=0
    out=$("$tool" "$file" 2>/dev/null) || status=$?
    [ "$status" = 1 ] && grep -q '^failed: .' <<<"$out" || { echo "$file: $status $out" >&2; exit 1; }
done
# No player outlives ovn-movie's kill -9 (looked at until it has gone; the ceiling only keeps a
# player that lives on from holding the probe).
"$tool" "$dir/m.mp4" --play 10 >/dev/null 2>&1 &
movie=$!
player=
for _ in $(seq 1200); do
    player=$(pgrep -P "$movie" -x ovn-player || true)
    [ -n "$player" ] && break
    sleep 0.1
done
[ -n "$player" ] || { kill -9 "$movie"; echo "no player started" >&2; exit 1; }
kill -9 "$movie"
wait "$movie" 2>/dev/null || true
alive() { [ -e "/proc/$1" ] && ! grep -q '^State:.*[ZX]' "/proc/$1/status" 2>/dev/null; }
for _ in $(seq 600); do
    alive "$player" || break
    sleep 0.1
done
if alive "$player"; then kill -9 "$player"; echo "the player outlived ovn-movie" >&2; exit 1; fi
echo "ovn-movie lines as expected"
