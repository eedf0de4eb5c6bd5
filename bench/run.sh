#!/usr/bin/env bash
# Measures Kavlento against Info-ZIP and 7-Zip on a folder like a host
# application's data folder, in one run, and writes a markdown table of median
# times, ratios, archive sizes and peak memory. It reports; it never fails a
# build on a figure.
#
#   bench/run.sh [--size MB] [--reps N] [--folder PATH] [--out FILE]
#
# --size    size of the generated folder in MB (default 300)
# --reps    repetitions of each measurement (default 3; the median is reported)
# --folder  measure an existing folder instead of a generated one (it is copied)
# --out     where the table goes (default bench/results/<date>-<size>MB.md)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

size=300
reps=3
folder=""
out=""
while (($#)); do
    case "$1" in
    --size) size=$2; shift 2 ;;
    --reps) reps=$2; shift 2 ;;
    --folder) folder=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
    esac
done

bash scripts/setup.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKAVLENTO_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target kavlento generate_folder bench_restore >/dev/null

work="$root/bench/work"
data="$work/data"
mkdir -p "$work" bench/results
rm -rf "$data" "$work"/out "$work"/copy
if [[ -n "$folder" ]]; then
    cp -a "$folder" "$data"
    label="$(basename "$folder")"
else
    build-bench/bench/generate_folder "$data" "$size" 1
    label="generated ${size} MB"
fi
# Kavlento packs its own folder; it lives there as it would in a host's folder.
cp build-bench/src/kavlento "$data/kavlento"
target="$work/out/kavlento"
password=6150937284
printf '"%s"\r\n' "$target" | iconv -f UTF-8 -t WINDOWS-1254 >"$data/yedekleme.dat"
bytes=$(du -sb "$data" | cut -f1)
files=$(find "$data" -type f | wc -l)
[[ -n "$out" ]] || out="bench/results/$(date +%Y-%m-%d)-$(echo "$label" | tr ' ' '-').md"

# Runs a command, appending "seconds peak-KB" to the named results file.
measure() {
    local name=$1
    shift
    sync
    /usr/bin/time -f "%e %M" -o "$work/last" "$@" >/dev/null 2>"$work/stderr" || {
        echo "$name failed:" >&2
        cat "$work/stderr" >&2
        exit 1
    }
    cat "$work/last" >>"$work/$name.times"
}

fresh_copy() {
    rm -rf "$work/copy"
    cp -a "$data" "$work/copy"
}

rm -f "$work"/*.times
for ((i = 1; i <= reps; i++)); do
    echo "repetition $i of $reps" >&2
    rm -rf "$work/out" && mkdir -p "$target"
    rm -f "$data/yedekleme.lst"
    measure kavlento_backup env -u DISPLAY -u WAYLAND_DISPLAY "$data/kavlento" 4702519836 OtoRadizEv
    kavlento_archive=$(ls "$target"/*/*.ksd)
    measure zip_backup bash -c "cd '$data' && zip -qr -6 -P $password '$work/out/infozip.zip' ."
    measure 7zz_backup bash -c "cd '$data' && 7zz a -tzip -mx=5 -mem=AES256 -p$password -bso0 -bsp0 '$work/out/7zip.zip' ."

    fresh_copy
    measure kavlento_restore build-bench/bench/bench_restore "$kavlento_archive" "$work/copy"
    fresh_copy
    measure unzip_restore unzip -qo -P "$password" "$work/out/infozip.zip" -d "$work/copy"
    fresh_copy
    measure 7zz_restore 7zz x -y -p"$password" -bso0 -bsp0 "$work/out/7zip.zip" -o"$work/copy"
done

median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
seconds() { cut -d' ' -f1 <"$work/$1.times" | median; }
peak_mb() { cut -d' ' -f2 <"$work/$1.times" | sort -n | tail -n 1 | awk '{printf "%.0f", $1/1024}'; }
mb() { awk -v b="$1" 'BEGIN {printf "%.1f", b/1048576}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a/b}'; }

kb=$(seconds kavlento_backup); zb=$(seconds zip_backup); sb=$(seconds 7zz_backup)
kr=$(seconds kavlento_restore); zr=$(seconds unzip_restore); sr=$(seconds 7zz_restore)
ks=$(stat -c %s "$kavlento_archive"); zs=$(stat -c %s "$work/out/infozip.zip"); ss=$(stat -c %s "$work/out/7zip.zip")

{
    echo "## Kavlento benchmark: $label"
    echo
    echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(mb "$bytes") MB in $files files, median of $reps."
    echo
    echo "| backup | seconds | vs Info-ZIP | archive MB | size vs Info-ZIP | peak MB |"
    echo "|---|---|---|---|---|---|"
    echo "| Kavlento (AES-256) | $kb | $(ratio "$kb" "$zb") | $(mb "$ks") | $(ratio "$ks" "$zs") | $(peak_mb kavlento_backup) |"
    echo "| Info-ZIP \`zip -r -6 -P\` | $zb | 1.00 | $(mb "$zs") | 1.00 | $(peak_mb zip_backup) |"
    echo "| 7-Zip \`-tzip -mx=5 -mem=AES256\` | $sb | $(ratio "$sb" "$zb") | $(mb "$ss") | $(ratio "$ss" "$zs") | $(peak_mb 7zz_backup) |"
    echo
    echo "| restore | seconds | vs unzip | peak MB |"
    echo "|---|---|---|---|"
    echo "| Kavlento | $kr | $(ratio "$kr" "$zr") | $(peak_mb kavlento_restore) |"
    echo "| Info-ZIP \`unzip -P\` | $zr | 1.00 | $(peak_mb unzip_restore) |"
    echo "| 7-Zip \`x\` | $sr | $(ratio "$sr" "$zr") | $(peak_mb 7zz_restore) |"
} | tee "$out"
echo "written to $out" >&2
