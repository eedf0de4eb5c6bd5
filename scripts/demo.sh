#!/usr/bin/env bash
# Builds Kavlento and opens it on a demo program folder (demo/program) with
# sample data and a stored target folder (demo/yedekler), started with the
# launch code the way a host application starts it. Without a display it takes
# the unattended backup instead and says where the archive went.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
# Configured until one configuration has completed (it leaves the build files);
# from then on cmake --build configures again by itself when a CMakeLists.txt
# changed, and builds only what changed: the program, not the benchmarks.
if [[ ! -f build-demo/Makefile && ! -f build-demo/build.ninja ]]; then
    cmake -S . -B build-demo -DCMAKE_BUILD_TYPE=Release -DKAVLENTO_TESTS=OFF >/dev/null
fi
cmake --build build-demo -j"$(nproc)" --target kavlento

demo="$PWD/demo"
program="$demo/program"
target="$demo/yedekler"
mkdir -p "$program" "$target"
# Copied only when it changed: a demo still open keeps its executable busy.
cmp -s build-demo/src/kavlento "$program/kavlento" || cp build-demo/src/kavlento "$program/kavlento"

if [[ ! -e "$program/veriler" ]]; then
    mkdir -p "$program/veriler" "$program/raporlar/Aralık 2026" "$program/boş klasör"
    for i in $(seq 1 40000); do
        echo "$i;Müşteri $i;İstanbul;Şişli;$((i * 37 % 1000)),50 TL"
    done >"$program/veriler/müşteriler.db"
    for ay in Ocak Şubat Mart Nisan; do
        printf 'Rapor: %s\nToplam satış: %d\n' "$ay" "$RANDOM" >"$program/raporlar/$ay.txt"
    done
    printf '[genel]\ndil=tr\n' >"$program/.ayarlar.ini"
fi
# The stored target folder, in the single-byte code page of the stored files.
if [[ ! -e "$program/yedekleme.dat" ]]; then
    printf '"%s"\r\n' "$target" | iconv -f UTF-8 -t WINDOWS-1254 >"$program/yedekleme.dat"
fi

if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
    exec "$program/kavlento" 4702519836
fi
echo "No display: taking the unattended backup of $program instead."
"$program/kavlento" 4702519836 OtoRadizEv
archive=$(ls -t "$target"/*/*.ksd | head -n 1)
echo "Backup written to: $archive"
echo "(password 6150937284; for example: 7zz l -p6150937284 \"$archive\")"
