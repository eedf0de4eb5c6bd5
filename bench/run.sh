#!/usr/bin/env bash
# Measures Kavlento against Info-ZIP and 7-Zip on a folder like a host
# application's data folder, in one run, and writes a markdown table of median
# times, time per 1,000 files, ratios, archive sizes and peak memory. It reports;
# it never fails a build on a figure.
#
#   bench/run.sh [--profile default|small-files] [--size MB] [--reps N] [--folder PATH]
#                [--kavlento PATH [--bench-restore PATH]] [--out FILE]
#
# --profile        shape of the generated folder: "default" (large database files
#                  among smaller files and pictures) or "small-files" (thousands of
#                  entries of a few KB, for the cost per entry)
# --size           size of the generated folder in MB (default 300, 200 for small-files)
# --reps           repetitions of each measurement (default 3; the median is reported)
# --folder         measure an existing folder instead of a generated one (it is copied)
# --kavlento       time this Kavlento executable instead of one built from this tree,
#                  an older build for instance, in the same run as the others
# --bench-restore  the bench_restore built together with that executable (default: the
#                  one in the same build folder); restores are timed with it, so that
#                  backup and restore are the same build's code
# --out            where the table goes
#                  (default bench/results/<date>-<profile>-<size>MB-<executable>.md)
set -euo pipefail

profile=""
size=""
fresh=""
reps=3
folder=""
out=""
kavlento=""
restorer=""
while (($#)); do
    (($# >= 2)) || { echo "option $1 needs a value" >&2; exit 2; }
    case "$1" in
    --profile) profile=$2 ;;
    --size) size=$2 ;;
    --reps) reps=$2 ;;
    --folder) folder=$(realpath -e "$2") ;;
    --kavlento) kavlento=$(realpath -e "$2") ;;
    --bench-restore) restorer=$(realpath -e "$2") ;;
    --out) out=$(realpath -m "$2") ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
    esac
    shift 2
done
if [[ -n "$folder" && (-n "$profile" || -n "$size") ]]; then
    echo "--profile and --size describe a generated folder, not one given with --folder" >&2
    exit 2
fi
profile=${profile:-default}
case "$profile" in
default) size=${size:-300} ;;
small-files) size=${size:-200} ;;
*) echo "unknown profile $profile (default, small-files)" >&2; exit 2 ;;
esac
[[ "$size" =~ ^[1-9][0-9]*$ ]] || { echo "--size takes whole megabytes" >&2; exit 2; }
[[ "$reps" =~ ^[1-9][0-9]*$ ]] || { echo "--reps takes a positive count" >&2; exit 2; }
if [[ -n "$restorer" && -z "$kavlento" ]]; then
    echo "--bench-restore goes with --kavlento" >&2
    exit 2
fi

cd "$(dirname "$0")/.."
root=$PWD

# The folder a CMake build lives in, found upwards from an executable in it.
build_folder() {
    local dir
    dir=$(dirname "$1")
    while [[ "$dir" != / ]]; do
        [[ -f "$dir/CMakeCache.txt" ]] && { echo "$dir"; return; }
        dir=$(dirname "$dir")
    done
    return 1
}

if [[ -n "$kavlento" ]]; then
    [[ -x "$kavlento" && -f "$kavlento" ]] || { echo "$kavlento is not an executable" >&2; exit 2; }
    kavlento_build=$(build_folder "$kavlento") || kavlento_build=""
    if [[ -z "$restorer" ]]; then
        # The restore of this tree's build would time this tree's extraction, not the
        # given executable's: only the restore tool of the same build will do.
        if [[ -n "$kavlento_build" && -x "$kavlento_build/bench/bench_restore" ]]; then
            restorer="$kavlento_build/bench/bench_restore"
        else
            echo "no bench_restore built with $kavlento: build its target bench_restore" \
                "in that build folder, or name it with --bench-restore" >&2
            exit 2
        fi
    fi
    [[ -x "$restorer" && -f "$restorer" ]] || { echo "$restorer is not an executable" >&2; exit 2; }
    restorer_build=$(build_folder "$restorer") || restorer_build=""
    if [[ "$restorer_build" != "$kavlento_build" ]]; then
        echo "note: $restorer and $kavlento come from different build folders;" \
            "the restore is timed with the former's code" >&2
    fi
    executable_tag=$(basename "${kavlento_build:-$(dirname "$kavlento")}" | tr -c 'A-Za-z0-9._\n-' '-')
    executable_label="given build \`$kavlento\`"
else
    commit=$(git rev-parse --short HEAD)
    if [[ -n "$(git status --porcelain -- src bench CMakeLists.txt)" ]]; then
        commit="$commit+changes"
    fi
    fresh=1
    kavlento="$root/build-bench/src/kavlento"
    restorer="$root/build-bench/bench/bench_restore"
    executable_tag=$commit
    executable_label="this tree's build of $commit"
fi

targets=()
[[ -n "$folder" ]] || targets+=(generate_folder)
[[ -z "$fresh" ]] || targets+=(kavlento bench_restore)
bash scripts/setup.sh
if ((${#targets[@]})); then
    cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKAVLENTO_TESTS=OFF >/dev/null
    cmake --build build-bench -j"$(nproc)" --target "${targets[@]}" >/dev/null
fi

work="$root/bench/work"
data="$work/data"
mkdir -p "$work" bench/results
rm -rf "$data" "$work"/out "$work"/copy
if [[ -n "$folder" ]]; then
    cp -a "$folder" "$data"
    label="folder $(basename "$folder")"
    name_tag="$(basename "$folder" | tr -c 'A-Za-z0-9._\n-' '-')"
else
    build-bench/bench/generate_folder --profile "$profile" "$data" "$size" 1
    label="$profile profile, generated $size MB"
    name_tag="$profile-${size}MB"
fi
# Kavlento packs its own folder; it lives there as it would in a host's folder.
cp "$kavlento" "$data/kavlento"
target="$work/out/kavlento"
password=6150937284
printf '"%s"\r\n' "$target" | iconv -f UTF-8 -t WINDOWS-1254 >"$data/yedekleme.dat"
# The files' bytes alone: du would add 4 KB for each folder, a thousand of them in small-files.
bytes=$(find "$data" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
files=$(find "$data" -type f | wc -l)
folders=$(find "$data" -mindepth 1 -type d | wc -l)
[[ -n "$out" ]] || out="$root/bench/results/$(date +%Y-%m-%d)-$name_tag-$executable_tag.md"

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

# Builds from before restores backed the folder up first cannot time that.
safety=0
if { "$restorer" 2>&1 || true; } | grep -q -- --safety; then
    safety=1
fi

rm -f "$work"/*.times
for ((i = 1; i <= reps; i++)); do
    echo "repetition $i of $reps" >&2
    rm -rf "$work/out" && mkdir -p "$target"
    rm -f "$data/yedekleme.lst"
    measure kavlento_backup env -u DISPLAY -u WAYLAND_DISPLAY "$data/kavlento" 4702519836 OtoRadizEv
    # The backup's own line says how long reading the archive back took
    # (builds from before that check say nothing).
    grep -o 'denetimi [0-9.]* saniye' "$work/stderr" | grep -o '[0-9.]*' >>"$work/kavlento_check.times" || true
    archives=("$target"/*/*.ksd)
    [[ ${#archives[@]} -eq 1 && -f "${archives[0]}" ]] || {
        echo "expected one archive under $target, found: ${archives[*]}" >&2
        exit 1
    }
    kavlento_archive=${archives[0]}
    measure zip_backup bash -c "cd '$data' && zip -qr -6 -P $password '$work/out/infozip.zip' ."
    measure 7zz_backup bash -c "cd '$data' && 7zz a -tzip -mx=5 -mem=AES256 -p$password -bso0 -bsp0 '$work/out/7zip.zip' ."

    fresh_copy
    measure kavlento_restore "$restorer" "$kavlento_archive" "$work/copy"
    if ((safety)); then
        fresh_copy
        rm -rf "$work/safety" && mkdir -p "$work/safety"
        measure kavlento_safe_restore "$restorer" --safety "$work/safety" "$kavlento_archive" "$work/copy"
    fi
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
# Milliseconds per 1,000 files: the cost of an entry, whatever the folder's size.
per_1000() { awk -v s="$1" -v n="$files" 'BEGIN {v = s * 1000000 / n; printf (v < 100 ? "%.1f" : "%.0f"), v}'; }
thousands() { echo "$1" | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta'; }

kb=$(seconds kavlento_backup); zb=$(seconds zip_backup); sb=$(seconds 7zz_backup)
kr=$(seconds kavlento_restore); zr=$(seconds unzip_restore); sr=$(seconds 7zz_restore)
ks=$(stat -c %s "$kavlento_archive"); zs=$(stat -c %s "$work/out/infozip.zip"); ss=$(stat -c %s "$work/out/7zip.zip")
nf=$(thousands "$files")

{
    echo "## Kavlento benchmark: $label; Kavlento: $executable_label"
    echo
    echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(mb "$bytes") MB in $nf files and $(thousands "$folders") folders, median of $reps."
    echo "Kavlento executable \`$kavlento\` (sha256 $(sha256sum "$kavlento" | cut -c1-16)), restored with \`$restorer\`."
    echo
    echo "| backup | seconds | ms per 1,000 files | vs Info-ZIP | archive MB | size vs Info-ZIP | peak MB |"
    echo "|---|---|---|---|---|---|---|"
    echo "| Kavlento (AES-256) | $kb | $(per_1000 "$kb") | $(ratio "$kb" "$zb") | $(mb "$ks") | $(ratio "$ks" "$zs") | $(peak_mb kavlento_backup) |"
    echo "| Info-ZIP \`zip -r -6 -P\` | $zb | $(per_1000 "$zb") | 1.00 | $(mb "$zs") | 1.00 | $(peak_mb zip_backup) |"
    echo "| 7-Zip \`-tzip -mx=5 -mem=AES256\` | $sb | $(per_1000 "$sb") | $(ratio "$sb" "$zb") | $(mb "$ss") | $(ratio "$ss" "$zs") | $(peak_mb 7zz_backup) |"
    if [[ -s "$work/kavlento_check.times" ]]; then
        kc=$(median <"$work/kavlento_check.times")
        echo
        echo "Kavlento's backup includes reading the archive back and checking every entry: $kc s, $(awk -v c="$kc" -v b="$kb" 'BEGIN {printf "%.0f", 100 * c / b}') % of its time."
    fi
    echo
    echo "| restore | files | seconds | ms per 1,000 files | vs unzip | peak MB |"
    echo "|---|---|---|---|---|---|"
    echo "| Kavlento | $nf | $kr | $(per_1000 "$kr") | $(ratio "$kr" "$zr") | $(peak_mb kavlento_restore) |"
    if ((safety)); then
        kf=$(seconds kavlento_safe_restore)
        echo "| Kavlento, backing the folder up first | $nf | $kf | $(per_1000 "$kf") | $(ratio "$kf" "$zr") | $(peak_mb kavlento_safe_restore) |"
    fi
    echo "| Info-ZIP \`unzip -P\` | $nf | $zr | $(per_1000 "$zr") | 1.00 | $(peak_mb unzip_restore) |"
    echo "| 7-Zip \`x\` | $nf | $sr | $(per_1000 "$sr") | $(ratio "$sr" "$zr") | $(peak_mb 7zz_restore) |"
} | tee "$out"
echo "written to $out" >&2
