#!/usr/bin/env bash
# The main job: builds the simulator and runs the plug-in on the example showroom.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native --target vpolv-sim
./build/native/sim/vpolv-sim examples/showroom.json --event place "$@"
