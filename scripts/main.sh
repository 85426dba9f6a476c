#!/usr/bin/env bash
# The main job: builds the simulator and runs the plug-in on a scene.
#
#   bash scripts/main.sh                       a placement on examples/showroom.json
#   bash scripts/main.sh --object 130          the same on another object (options go to vpolv-sim)
#   bash scripts/main.sh SCENE [OPTIONS]       a scene of your own (a placement unless --event,
#                                              or --check, is given)
#   bash scripts/main.sh --reference           the pricing rules (no scene)
#
# Only the simulator's report goes to standard output; what the build says goes to standard error,
# so that the report can be piped: bash scripts/main.sh --json | python3 -m json.tool
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

scene=("$root/examples/showroom.json")
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then
  scene=("$1")
  shift
fi

event=(--event place)
for arg in "$@"; do
  case "$arg" in
    --event | --event=* | --check | --help | -h) event=() ;;
    --reference) event=() scene=() ;;
  esac
done

(
  cd "$root"
  bash scripts/install-deps.sh
  cmake --preset native
  cmake --build --preset native --target vpolv-sim
) >&2

exec "$root/build/native/sim/vpolv-sim" "${scene[@]}" "${event[@]}" "$@"
