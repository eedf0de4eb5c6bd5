#!/usr/bin/env bash
# Installs Kavlento into a fresh folder the way a host's folder is set up and
# checks that only the executable lands there and that it starts from there.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
installed=$(cd "$prefix" && find . -mindepth 1 | sort)
if [[ "$installed" != "./kavlento" ]]; then
    echo "expected only ./kavlento, found:"; echo "$installed"; exit 1
fi
status=0
env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/kavlento" || status=$?
if [[ $status -ne 4 ]]; then
    echo "without the launch code it should end with status 4, not $status"; exit 1
fi
printf '""\r\n' >"$prefix/yedekleme.dat"
status=0
env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/kavlento" 4702519836 OtoRadizEv 2>/dev/null || status=$?
if [[ $status -ne 2 ]]; then
    echo "an unattended start without a target should end with status 2, not $status"; exit 1
fi
echo "installed: only the executable, and it starts from the host's folder"
