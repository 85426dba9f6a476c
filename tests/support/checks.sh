# The shell tests' shared part, sourced after they set $work (their scratch folder): counted
# checks, a Wine prefix, and the end of the run.
#
#   expect DESCRIPTION EXPECTED ACTUAL   a check of one value; status 1 when it fails
#   expect_same DESCRIPTION FILE1 FILE2  a check that two files are equal; shows the difference
#   ok / bad MESSAGE                     a check decided by the caller
#   wine_prefix FOLDER [--fresh]         WINEPREFIX set to FOLDER and made ready for our programs
#                                        (--fresh: what a former run left there is removed first)
#   finish [NAME]                        stops the prefix's Wine, prints the counts; status 0 when none failed
# and, from cmake/wine-lib.sh, `wine`: a program that Wine failed to start is started again.

passed=0 failed=0
_checks_repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
# shellcheck source=../../cmake/wine-lib.sh
source "$_checks_repo/cmake/wine-lib.sh"

ok() { passed=$((passed + 1)); }
bad() {
  failed=$((failed + 1))
  echo "FAILED: $*"
}
expect() {
  if [ "$2" == "$3" ]; then ok; else
    bad "$1: expected \"$2\", got \"$3\""
    return 1
  fi
}
expect_same() {
  if diff -u "$2" "$3" >"$work/diff.txt"; then ok; else
    bad "$1"
    head -40 "$work/diff.txt"
  fi
}

wine_prefix() {
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEPREFIX="$1"
  _checks_wine=1
  wineserver -k 2>/dev/null || true
  if [ "${2:-}" = --fresh ]; then rm -rf "$WINEPREFIX"; fi
  "$_checks_repo/cmake/wine-run.sh" --prepare "$WINEPREFIX" || exit 1
}

finish() {
  if [ -n "${_checks_wine:-}" ]; then wineserver -k 2>/dev/null || true; fi
  echo "${1:+$1: }$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
