#!/usr/bin/env bash
# Installs what is missing, builds everything, starts the local server with its sample database
# and opens the desktop program tabulon logged in to it. Without a display ($DISPLAY empty) the
# program runs offscreen: it connects, clicks the sample database and a table in the tree (its
# pages and its rows on the Data page), runs one SQL
# script, writes screenshots into build/run/screenshots and ends; the server is stopped either way.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_deps
build_all

data="${TABULON_DATA:-$PWD/build/run/data}"
mkdir -p build/run
rm -f build/run/port
./build/server/tabulon-server --port "${TABULON_PORT:-0}" --data "$data" --port-file build/run/port \
  > build/run/server.out 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null || true' EXIT
for _ in $(seq 600); do [ -s build/run/port ] && break; sleep 0.1; done
[ -s build/run/port ] || { cat build/run/server.out; echo "the server did not start"; exit 1; }
port=$(cat build/run/port)
# The entry the program logs in to: DSQUERY, its default server name.
printf '[DSQUERY]\n\thost = 127.0.0.1\n\tport = %s\n\ttds version = 5.0\n\tclient charset = UTF-8\n' "$port" \
  > build/run/freetds.conf
export FREETDSCONF="$PWD/build/run/freetds.conf"
echo "local server on 127.0.0.1:$port, data in $data"
if [ -n "${DISPLAY:-}" ]; then
  ./build/app/tabulon --server DSQUERY --user sa --password "" --connect
else
  shots="$PWD/build/run/screenshots"
  echo "no display: running tabulon offscreen"
  QT_QPA_PLATFORM=offscreen ./build/app/tabulon --server DSQUERY --user sa --password "" \
    --ini "$PWD/build/run/Tabulon.ini" --demo "$shots"
  echo "screenshots of the session are in $shots"
fi
