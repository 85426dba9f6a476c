# The identifiers of the type library, the interface and the class of vpolv.dll, read from
# com/vpolv.idl (in that order there), as the build reads them for the registration's layout.
# Sourced with $here set to the repository's root.
# shellcheck shell=bash disable=SC2034
mapfile -t ids < <(sed -n 's/.*uuid(\([0-9A-Fa-f-]*\)).*/\1/p' "$here/com/vpolv.idl")
library_id="${ids[0]}" interface_id="${ids[1]}" class_id="${ids[2]}"
unset ids
