#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Quarel and starts it.  Extra
# arguments go to the program.  Without a display, run it as
#   xvfb-run -a ./run-quarel.sh
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
tools/build.sh build -DCMAKE_BUILD_TYPE=Release
exec build/quarel "$@"
