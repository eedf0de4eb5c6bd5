#!/usr/bin/env bash
# Kavlento for 64-bit Windows, cross-built here with MinGW-w64:
#
#   scripts/windows.sh        build-windows/kavlento/ (kavlento.exe with every
#                             DLL it needs) and build-windows/kavlento-windows.zip
#   scripts/windows.sh test   the same with the tests, then the tests that run
#                             on Windows, under Wine on a virtual display
#
# What it needs is built once per machine by scripts/windows-deps.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-windows"
mode="${1:-build}"
case "$mode" in
build | test) ;;
*)
    echo "usage: scripts/windows.sh [test]" >&2
    exit 2
    ;;
esac

bash "$root/scripts/setup.sh" windows
deps=$(bash "$root/scripts/windows-deps.sh")
qt="$deps/qt6-mingw64"
gcc_runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
mingw_runtime=/usr/x86_64-w64-mingw32/lib

# A changed recipe builds its libraries into another folder: what CMake found
# in the old one is forgotten.
fresh=()
if [[ -f "$build/CMakeCache.txt" && "$(cat "$build/deps-folder" 2>/dev/null)" != "$deps" ]]; then
    fresh=(--fresh)
fi
cmake "${fresh[@]}" -G Ninja -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/scripts/windows-toolchain.cmake" \
    -DKAVLENTO_WINDOWS_PREFIX="$deps/prefix;$qt" -DCMAKE_PREFIX_PATH="$qt" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_BUILD_TYPE=Release -DKAVLENTO_TESTS=ON >/dev/null
echo "$deps" >"$build/deps-folder"
targets=(--target kavlento)
[[ "$mode" == test ]] && targets=()
cmake --build "$build" --parallel "$(nproc)" "${targets[@]}"

# The DLLs a program loads that Windows does not have, found by its imports,
# and theirs in turn.
search=("$qt/bin" "$gcc_runtime" "$mingw_runtime")
copy_dlls() {
    local binary=$1 into=$2 dll found
    for dll in $(x86_64-w64-mingw32-objdump -p "$binary" | awk '/DLL Name:/ {print $3}'); do
        [[ -e "$into/$dll" ]] && continue
        found=""
        for dir in "${search[@]}"; do
            [[ -e "$dir/$dll" ]] && found="$dir/$dll" && break
        done
        [[ -n "$found" ]] || continue # one of Windows' own
        cp "$found" "$into/"
        copy_dlls "$found" "$into"
    done
}

folder="$build/kavlento"
rm -rf "$folder" "$build/kavlento-windows.zip"
mkdir -p "$folder/platforms" "$folder/styles" "$folder/translations"
cp "$build/src/kavlento.exe" "$folder/"
cp "$qt/plugins/platforms/qwindows.dll" "$folder/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$folder/styles/"
# Qt's own Turkish texts (its dialogs' buttons), as on Linux.
cp /usr/share/qt6/translations/qtbase_tr.qm "$folder/translations/"
# Qt's folders are the program's own, wherever it is put.
printf '[Paths]\nPrefix=.\nPlugins=.\nTranslations=translations\n' >"$folder/qt.conf"
for binary in "$folder"/kavlento.exe "$folder"/platforms/*.dll "$folder"/styles/*.dll; do
    copy_dlls "$binary" "$folder"
done
(cd "$build" && cmake -E tar cf kavlento-windows.zip --format=zip kavlento)
echo "$folder"
echo "$build/kavlento-windows.zip"

[[ "$mode" == test ]] || exit 0
exec bash "$root/scripts/wine-tests.sh" "$build" "$folder"
