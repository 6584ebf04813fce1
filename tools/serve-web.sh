#!/usr/bin/env bash
# Serves the page built by tools/build-web.sh on this computer only:
# http://127.0.0.1:PORT/ (8080 unless given). Web MIDI needs a secure page,
# which a browser grants to 127.0.0.1 and localhost without HTTPS.
set -euo pipefail
cd "$(dirname "$0")/.."

port=${1:-8080}
if [ ! -f build/web/index.html ]; then
  echo "serve-web: no page in build/web; build it first with tools/build-web.sh" >&2
  exit 1
fi
echo "Serving build/web on http://127.0.0.1:$port/ (Ctrl+C stops)"
exec python3 -m http.server "$port" --bind 127.0.0.1 --directory build/web
