#!/usr/bin/env bash
# The main job: builds the DLL and installs a demonstration package under
# wine's Windows Installer, showing every action's lines from the log.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build-windows.sh
demo/run.sh build/win
