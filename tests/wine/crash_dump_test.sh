#!/usr/bin/env bash
# A host that crashes in one of its operations in the middle of a placement, and the backtrace
# support reads from its crash dump with winedbg (docs/support.md, section 5).
#
#   crash_dump_test.sh WINEPREFIX ARCH PROGRAM VPOLV_DLL WORKDIR
#     ARCH       i686 or x86_64: the bitness of the program, the DLL and the debugger
#     PROGRAM    vpolv_crash_dump.exe (see crash_dump.cpp), the fake host beside it
#     VPOLV_DLL  the release's vpolv.dll, its vpolv.pdb beside it (VPOLV_TESTED_DLL in the
#                environment names another, as for the other DLL tests)
#     WORKDIR    scratch folder: the dump, the folder the DLL ran from, what winedbg printed
#
# The backtrace must run from the crash in the fake host through the glass surcharge step and
# Plugin::runEvent to the event's entry in the plug-in's interface
# (PluginObject::OnObjectPlaceAfter), in that order, with nothing but the fake host and
# vpolv.dll in between; and every frame of vpolv.dll must show its function and file:line.
set -uo pipefail

if [ $# -ne 5 ]; then
  echo "usage: crash_dump_test.sh WINEPREFIX ARCH PROGRAM VPOLV_DLL WORKDIR" >&2
  exit 2
fi
prefix="$1" arch="$2" program="$3" dll="${VPOLV_TESTED_DLL:-$4}"
echo "Testing $dll"
mkdir -p "$5"
work="$(cd "$5" && pwd)"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
# shellcheck source=../support/checks.sh
source "$here/tests/support/checks.sh"
case "$arch" in
  x86_64) winedbg=winedbg ;;
  # It hands the dump on to the 64-bit debugger, which reads 32-bit dumps too (Wine 8).
  i686) winedbg='C:\windows\syswow64\winedbg.exe' ;;
  *)
    echo "unknown ARCH $arch" >&2
    exit 2
    ;;
esac

rm -rf "${work:?}"/*
wine_prefix "$prefix"
dump="$work/host.dmp"
wine "$program" --vpolv="$dll" --dump="$dump" >"$work/program.txt" 2>&1
expect "the program's last words" "crash dump written (exception 0xC0000005)" \
  "$(tail -1 "$work/program.txt" | tr -d '\r')" || cat "$work/program.txt"

# Opening a dump, winedbg prints the backtrace of the exception's thread. Wine 8 prints it
# twice, the registers read once as the other CPU's (a single frame of nonsense): the longest
# is the backtrace.
echo quit | wine "$winedbg" "Z:${dump//\//\\}" >"$work/winedbg.txt" 2>&1
awk '/^Backtrace:/ { block = ""; frames = 0; inside = 1; next }
     inside && /^(=>| +)[0-9]+ / {
       block = block $0 "\n"
       if (++frames > longest) { longest = frames; text = block }
       next
     }
     { inside = 0 }
     END { printf "%s", text }' "$work/winedbg.txt" | tr -d '\r' >"$work/backtrace.txt"
bt="$work/backtrace.txt"
frame='^(=>| +)[0-9]+ 0x[0-9a-f]+ '

# The frame number of the first frame of module whose function matches name; empty if none.
frame_of() {
  grep -E "$frame(.*:)?$2[+(].* in $1 \(" "$bt" | head -1 | sed -E 's/^(=>| +)([0-9]+) .*/\2/'
}
expect "the top frame: the crash in the fake host" 0 "$(frame_of vpolv_fake_host crashInHostCode)"
# Then, in this order (module, function): the glass surcharge step, the event's runner and the
# event's entry.
previous=0
while read -r module function; do
  at=$(frame_of "$module" "$function")
  expect "$function below frame $previous" yes "$([ "${at:-0}" -gt "$previous" ] && echo yes)"
  previous=${at:-$previous}
done <<'END'
vpolv vpolv::aplicaIncrementoCristal
vpolv vpolv::Plugin::runEvent
vpolv vpolv::com::PluginObject::OnObjectPlaceAfter
END
entry=$(frame_of vpolv 'vpolv::com::PluginObject::OnObjectPlaceAfter')
# Between the crash and the entry: the fake host and vpolv.dll only, and on x86 winedbg's frames
# of address 0 (one after every function of its own, not inlined).
strays=$(awk -v last="${entry:-0}" '{ n = $1; sub(/^=>/, "", n) } n + 0 <= last' "$bt" |
  grep -Evc -e ' in vpolv(_fake_host)? \(' -e '^ +[0-9]+ 0x0+ \(')
expect "frames of other modules between the crash and the event's entry" 0 "$strays"
vpolv_frames=$(grep -c ' in vpolv (' "$bt")
nameless=$(grep ' in vpolv (' "$bt" | grep -Evc "${frame}[A-Za-z_~\`].*\[[^]]+:[0-9]+\] in vpolv \(")
expect "frames of vpolv.dll without a function or file:line" 0 "$nameless"
echo "backtrace: $(wc -l <"$bt") frames, $vpolv_frames of vpolv.dll"
if [ "$failed" -ne 0 ]; then
  echo "--- winedbg's output:"
  cat "$work/winedbg.txt"
  echo
fi
finish "crash dump ($arch)"
