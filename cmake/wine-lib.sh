# What the scripts that run Windows programs under Wine share (sourced, bash).
#
#   wine ARGS...   Wine's own command; a program that Wine failed to start is started again
#
# Now and then, under load, Wine fails to create a program's process: it then prints
# "Application could not be started ... ShellExecuteEx failed" (from its start.exe) and exits
# with 1, as a failing program could. Such a start is retried, at most twice, and said on
# standard error; a program that ran and failed is never run again. Standard error is kept in a
# file while the program runs and shown when it ends (a pipe would be held open by the Wine
# session's own processes that the program starts, such as services.exe, until they end).

wine() {
  local attempt status errors
  errors="$(mktemp)"
  for attempt in 1 2 3; do
    status=0
    command wine "$@" 2>"$errors" || status=$?
    cat "$errors" >&2
    if [ "$status" -eq 0 ] || [ "$attempt" -eq 3 ] || ! grep -q "ShellExecuteEx failed" "$errors"; then
      break
    fi
    echo "wine: $1 did not start (Wine could not create its process); starting it again" >&2
  done
  rm -f "$errors"
  return "$status"
}
