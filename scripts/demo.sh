#!/usr/bin/env bash
# Runs the launcher against the local development server with demo content: news, two patches
# made now (one by Python's zipfile, one by Info-ZIP zip), and a file list to verify in which one
# file is missing and one is damaged, both repaired. The launcher runs in demo-out/install beside
# a stand-in game client that only notes how it was started.
#
# The releases are signed: the demo's launcher is the one the build makes with a release key of its
# own (<build>/signed/, key pair made by the release tool at build time, never committed or
# published), patch 1002 is made and signed by the release tool, and every other published file is
# signed by it. The build's main launcher stays without a key, as the tests expect.
#
# With a display, the window opens there and you click START GAME yourself. Without one, the
# launcher runs under a virtual X display, the demo presses the buttons itself and keeps a
# picture of each phase in demo-out/screenshots. DEMO_BUILD_DIR names another build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh

build=${DEMO_BUILD_DIR:-build}
cmake -S "$root" -B "$build" -G Ninja -DLAUNCHER_WERROR=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target OstrevanLauncherSigned release_tool

# The launcher reaches the server and the update server at the addresses compiled into it.
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
brand=$(cache_value LAUNCHER_BRAND_NAME)
game_port=$(cache_value LAUNCHER_SERVER_PORT)
update_url=$(cache_value LAUNCHER_UPDATE_URL)
http_port=$(printf '%s' "$update_url" | sed -n 's|^http://127\.0\.0\.1:\([0-9]*\)/$|\1|p')
if [ "$(cache_value LAUNCHER_SERVER_ADDRESS)" != 127.0.0.1 ] || [ -z "$http_port" ]; then
  echo "demo: $build was configured for another server ($update_url); the demo needs the local one" >&2
  exit 1
fi
launcher_name=${brand}Launcher
release_tool=$build/$(printf '%s' "$brand" | tr 'A-Z' 'a-z')-release
demo_key=$build/signed/release-key.pem

out=$root/demo-out
rm -rf "$out"
mkdir -p "$out/install" "$out/served"
cp "$build/signed/$launcher_name" "$out/install/"
cat >"$out/install/Halcyra.exe" <<EOF
#!/bin/sh
echo "Halcyra.exe (stand-in game client) started with: \$* ; working folder: \$(pwd)" | tee -a '$out/client.log'
EOF
chmod +x "$out/install/Halcyra.exe"
python3 tools/demo_content.py --served "$out/served" --install "$out/install" --script "$out/server-script.json" --slow \
  --release-tool "$release_tool" --key "$demo_key"
"$release_tool" verify "${demo_key%.pem}.pub.pem" "$out/served" patches/1001.zip patches/1002.zip >/dev/null
echo "demo: a release signed by $release_tool with $demo_key; the launcher accepts only files signed with it"

server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

python3 tools/dev_server.py --root "$out/served" --script "$out/server-script.json" --log "$out/server-log.jsonl" \
  --game-port "$game_port" --http-port "$http_port" >"$out/server.out" 2>"$out/server.err" &
server_pid=$!
for _ in $(seq 100); do
  grep -q '"ready": true' "$out/server.out" 2>/dev/null && break
  if ! kill -0 "$server_pid" 2>/dev/null; then
    echo "demo: the development server did not start:" >&2
    cat "$out/server.err" >&2
    exit 1
  fi
  sleep 0.1
done
echo "demo: development server on 127.0.0.1:$game_port (game) and $update_url (updates)"

status=0
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo "demo: the launcher opens on $DISPLAY; press START GAME when it is ready (or close it)"
  (cd "$out/install" && "./$launcher_name") >"$out/launcher.log" 2>&1 || status=$?
  echo "demo: the launcher ended with exit code $status"
else
  python3 tools/demo_drive.py --install "$out/install" --server-log "$out/server-log.jsonl" \
    --shots "$out/screenshots" --launcher-log "$out/launcher.log" || status=$?
  echo "demo: pictures of each phase are in $out/screenshots"
fi
[ -f "$out/client.log" ] && echo "demo: the game client was started: $(cat "$out/client.log")"
echo "demo: installation in $out/install; launcher output in $out/launcher.log; server records in $out/server-log.jsonl"
exit "$status"
