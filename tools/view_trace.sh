#!/bin/sh
# Opens a quorvex-stat --trace file in speedscope under headless Chromium,
# checks that the viewer lists every thread of the trace, and saves a
# screenshot. Uses what is installed, downloads nothing: Debian's chromium,
# and speedscope installed beforehand with npm (in SPEEDSCOPE_DIR, default
# the global npm root's speedscope). Exits 77 with the reason when either
# is missing.
#
# usage: tools/view_trace.sh TRACE.json [SCREENSHOT.png]
set -eu
trace=$1
screenshot=${2:-}
skip() { echo "skipped: $1" >&2; exit 77; }

browser=$(command -v chromium || command -v chromium-browser || true)
[ -n "$browser" ] || skip "no chromium (apt install chromium)"
viewer=${SPEEDSCOPE_DIR:-$(npm root -g 2>/dev/null || true)/speedscope}/dist/release
[ -f "$viewer/index.html" ] || skip "no speedscope in $viewer (npm install speedscope)"

site=$(mktemp -d)
server=""
trap '[ -z "$server" ] || kill "$server"; rm -rf "$site"' EXIT INT TERM
cp -R "$viewer/." "$site/"
cp "$trace" "$site/trace.json"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$site" >/dev/null 2>&1 &
server=$!
url="http://127.0.0.1:$port/index.html#profileURL=http://127.0.0.1:$port/trace.json"
for _ in 1 2 3 4 5 6 7 8 9 10; do
    python3 -c "import urllib.request; urllib.request.urlopen('http://127.0.0.1:$port/')" 2>/dev/null && break
    sleep 0.2
done

open_in_browser() {
    timeout 300 "$browser" --headless=new --no-sandbox --disable-gpu --window-size=1400,900 \
        --virtual-time-budget=20000 "$@" "$url" 2>/dev/null
}
# speedscope names the thread shown and how many there are: "(1/5)". A tid
# that the trace names twice (its thread was taken for a new one after lost
# records) is one thread to a viewer.
expected=$(grep '"name":"thread_name"' "$trace" | grep -o '"pid":[0-9]*,"tid":[0-9]*' | sort -u | wc -l)
shown=$(open_in_browser --dump-dom | grep -o '(1/[0-9]*)' | head -n 1 | tr -dc 0-9/ | cut -d/ -f2)
echo "threads in the trace: $expected; listed by speedscope: ${shown:-none}"
[ -z "$screenshot" ] || open_in_browser --screenshot="$screenshot" >/dev/null
[ "$shown" = "$expected" ]
