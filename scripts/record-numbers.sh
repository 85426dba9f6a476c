#!/usr/bin/env bash
# Records what the automation runtime answers, under Wine in 64 bits, into the test data:
#   tests/data/numbers/conversions.tsv and doubles.tsv   the number conversions of every input
#   tests/sim/point-forms-dll.jsonl                      the DLL's trace of tests/sim/point-forms.json
# from the windows build (cmake --build --preset windows first). The inputs are those of
# tests/data/numbers/cases.txt and those tests/wine/numbers_record.cpp makes. Review the
# departures it lists before committing the tables.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/windows
export WINEPREFIX="$PWD/$build/wineprefix"
export WINEDEBUG=-all
cmake/wine-run.sh --prepare "$WINEPREFIX"
cmake/wine-run.sh "$WINEPREFIX" "$build/tests/wine/vpolv_numbers_record.exe" tests/data/numbers/cases.txt \
  tests/data/numbers/conversions.tsv tests/data/numbers/doubles.tsv
LC_ALL=en_US.UTF-8 VPOLV_POINT_FORMS_TRACE="$PWD/tests/sim/point-forms-dll.jsonl" \
  cmake/wine-run.sh "$WINEPREFIX" "$build/tests/wine/vpolv_wine_tests.exe" \
  --vpolv="$PWD/$build/dist/vpolv.dll" --gtest_filter=Numbers.TheDllTracesPointsOfEveryForm
wineserver -k 2>/dev/null || true
