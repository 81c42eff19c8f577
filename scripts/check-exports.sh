#!/usr/bin/env bash
# Checks that each plug-in library exports its entry point as "VSTPluginMain" and
# "main", undecorated, and that Windows DLLs import nothing but system libraries.
# Usage: scripts/check-exports.sh LIBRARY...
set -euo pipefail

status=0
for lib in "$@"; do
    case "$lib" in
    *.dll)
        dump=$(objdump -p "$lib")
        exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump")
        imports=$(grep -i 'DLL Name:' <<<"$dump" | awk '{print $3}' | tr 'A-Z' 'a-z' | sort -u)
        for name in VSTPluginMain main; do
            if ! grep -qE "\] ${name}\$" <<<"$exports"; then
                echo "check-exports: $lib does not export $name"; status=1
            fi
        done
        for dll in $imports; do
            case "$dll" in
            kernel32.dll | msvcrt.dll | user32.dll) ;;
            *) echo "check-exports: $lib imports $dll, which is not a system library"; status=1 ;;
            esac
        done
        ;;
    *)
        for name in VSTPluginMain main; do
            if ! nm -D --defined-only "$lib" | awk '{print $3}' | grep -qx "$name"; then
                echo "check-exports: $lib does not export $name"; status=1
            fi
        done
        ;;
    esac
    [ $status -eq 0 ] && echo "check-exports: $lib exports VSTPluginMain and main"
done
exit $status
