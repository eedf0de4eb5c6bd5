#!/usr/bin/env bash
# An archive written by kavlento.exe under Wine restores byte for byte with the
# Linux build and with 7-Zip, and one written by the Linux build restores byte
# for byte under Wine. Each build takes its backup as a host's nightly run
# does: `kavlento 4702519836 OtoRadizEv --hedef FOLDER`.
#
#   check_windows_interop.sh LINUX-BUILD-FOLDER
#
# The Windows build is made (or brought up to date) by scripts/windows.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
linux=$(cd "$1" && pwd)
windows="$root/build-windows"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One Windows build at a time, however many test runs want it.
(
    flock 9
    bash "$root/scripts/windows.sh" >/dev/null
    cmake --build "$windows" --target restore_archive >/dev/null
) 9>"$root/.build-windows.lock"

export WINEPREFIX="$linux/wine-interop" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export WINEPATH="Z:${windows//\//\\}\\kavlento"
wine() { xvfb-run -a /usr/lib/wine/wine64 "$@"; }
windows_path() { echo "Z:${1//\//\\}"; }

# What a program folder holds: Turkish names, nesting, an empty file and
# folder, text, and a large random file that is inflated as it is read.
make_data() {
    mkdir -p "$1/veri/alt klasör/boş" "$1/veri/ğüşıöç İ"
    printf 'merhaba\r\n' >"$1/veri/ğüşıöç İ/not.txt"
    : >"$1/veri/alt klasör/boş dosya"
    seq 1 200000 >"$1/veri/alt klasör/sayılar.txt"
    head -c 24000000 /dev/urandom >"$1/veri/büyük.bin"
}
only_archive() {
    local found=("$1"/*/*.ksd)
    [[ ${#found[@]} == 1 && -f "${found[0]}" ]] || { echo "no single archive in $1" >&2; exit 1; }
    echo "${found[0]}"
}

# Windows writes.
mkdir -p "$work/win-program" "$work/win-target"
cp -r "$windows/kavlento/." "$work/win-program/"
make_data "$work/win-program"
wine "$work/win-program/kavlento.exe" 4702519836 OtoRadizEv --hedef "$(windows_path "$work/win-target")"
archive=$(only_archive "$work/win-target")
mkdir "$work/by-linux" "$work/by-windows"
"$linux/tests/restore_archive" "$archive" "$work/by-linux"
diff -r "$work/win-program/veri" "$work/by-linux/veri"
cmp "$work/win-program/kavlento.exe" "$work/by-linux/kavlento.exe"
7zz x -bd -y -p6150937284 -o"$work/by-7zip" "$archive" >/dev/null
diff -r "$work/win-program/veri" "$work/by-7zip/veri"

# Linux writes.
mkdir -p "$work/linux-program" "$work/linux-target"
cp "$linux/src/kavlento" "$work/linux-program/"
make_data "$work/linux-program"
QT_QPA_PLATFORM=offscreen "$work/linux-program/kavlento" 4702519836 OtoRadizEv \
    --hedef "$work/linux-target"
archive=$(only_archive "$work/linux-target")
wine "$windows/tests/restore_archive.exe" "$(windows_path "$archive")" \
    "$(windows_path "$work/by-windows")"
diff -r "$work/linux-program/veri" "$work/by-windows/veri"
echo "both systems restore what the other wrote, byte for byte"

# A link Windows cannot make there (Wine makes none) is refused before
# anything changes, naming it.
mkdir -p "$work/link-program/veri" "$work/link-target" "$work/by-windows-link"
cp "$linux/src/kavlento" "$work/link-program/"
echo hedef >"$work/link-program/veri/hedef.txt"
ln -s hedef.txt "$work/link-program/veri/kısayol"
QT_QPA_PLATFORM=offscreen "$work/link-program/kavlento" 4702519836 OtoRadizEv \
    --hedef "$work/link-target"
echo önceki >"$work/by-windows-link/önceki.txt"
if wine "$windows/tests/restore_archive.exe" "$(windows_path "$(only_archive "$work/link-target")")" \
    "$(windows_path "$work/by-windows-link")" 2>"$work/refusal"; then
    echo "an archive with a link was restored where no link can be made" >&2
    exit 1
fi
grep -q "veri/k" "$work/refusal"
[[ "$(ls -A "$work/by-windows-link")" == önceki.txt ]]
echo "a link that cannot be made is refused before anything changes"
