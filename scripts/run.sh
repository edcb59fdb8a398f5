#!/usr/bin/env bash
# Builds QOVA in Release and starts it. Where there is no display, starts it
# under a virtual one (xvfb-run) and says so.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$top/build" --target qova
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting QOVA under xvfb-run (a virtual display)."
  echo "To see the window, run this on a desktop session, or connect with DISPLAY set."
  exec xvfb-run -a -s "-screen 0 1600x1000x24" "$top/build/app/gui/qova" "$@"
fi
exec "$top/build/app/gui/qova" "$@"
