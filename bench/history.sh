#!/usr/bin/env bash
# Measures what reading the backup history costs: the time and peak memory of
# `--durum` and `--denetle` on a sound history of many records, and on the same
# records followed by hundreds of megabytes of damage. A damaged history should
# cost about what its records cost, whatever its size. It reports; it never
# fails a build on a figure.
#
#   bench/history.sh [--records N] [--damage MB] [--reps N]
#                    [--kavlento PATH] [--against PATH] [--out FILE]
#
# --records   records of every history (default 100000)
# --damage    megabytes of damage after them (default 500)
# --reps      repetitions of each measurement (default 3; the median time and
#             the highest peak are reported)
# --kavlento  measure this executable instead of one built from this tree
# --against   an older build to compare with: its figures, and ours as ratios of them
# --out       where the table goes
#             (default bench/results/<date>-history-<records>-<damage>MB.md)
set -euo pipefail

records=100000
damage=500
reps=3
kavlento=""
against=""
out=""
while (($#)); do
    (($# >= 2)) || { echo "option $1 needs a value" >&2; exit 2; }
    case "$1" in
    --records) records=$2 ;;
    --damage) damage=$2 ;;
    --reps) reps=$2 ;;
    --kavlento) kavlento=$(realpath -e "$2") ;;
    --against) against=$(realpath -e "$2") ;;
    --out) out=$(realpath -m "$2") ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
    esac
    shift 2
done
[[ "$records" =~ ^[0-9]+$ ]] || { echo "--records takes a count" >&2; exit 2; }
[[ "$damage" =~ ^[1-9][0-9]*$ ]] || { echo "--damage takes whole megabytes" >&2; exit 2; }
[[ "$reps" =~ ^[1-9][0-9]*$ ]] || { echo "--reps takes a positive count" >&2; exit 2; }

cd "$(dirname "$0")/.."
root=$PWD
if [[ -z "$kavlento" ]]; then
    bash scripts/setup.sh
    cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKAVLENTO_TESTS=OFF >/dev/null
    cmake --build build-bench -j"$(nproc)" --target kavlento >/dev/null
    kavlento="$root/build-bench/src/kavlento"
fi
for executable in "$kavlento" ${against:+"$against"}; do
    [[ -x "$executable" && -f "$executable" ]] || { echo "$executable is not an executable" >&2; exit 2; }
done

work="$root/bench/work/history"
rm -rf "$work"
mkdir -p "$work/target" bench/results
[[ -n "$out" ]] || out="$root/bench/results/$(date +%Y-%m-%d)-history-$records-${damage}MB.md"
printf '"%s"\r\n' "$work/target" | iconv -f UTF-8 -t WINDOWS-1254 >"$work/yedekleme.dat"

# Records as the program writes them, naming archives that are not there (so
# that --denetle looks each one up and opens none).
awk -v n="$records" -v target="$work/target" 'BEGIN {
    for (i = 0; i < n; i++) {
        day = sprintf("%02d-%02d-20%02d", i % 28 + 1, int(i / 28) % 12 + 1, 20 + int(i / 336) % 80)
        time = sprintf("%02d:%02d:%02d", int(i / 3600) % 24, int(i / 60) % 60, i % 60)
        printf "\"%s\",\"%s\",\"%s/%s/Yedek%d.ksd\"\r\n", day, time, target, day, i
    }
}' >"$work/records.lst"

bytes_of_damage=$((damage * 1048576))
# Damage of three kinds: bytes of no meaning (a line every 256 bytes or so; a
# line of them with two commas and no stray quote reads as a record, so its
# peak follows those), records cut short (millions of lines that hold no
# record), and the zeros a power cut leaves in a file (one line of all of it).
make_history() {
    cp "$work/records.lst" "$work/yedekleme.lst"
    case "$1" in
    sound) ;;
    garbage) head -c "$bytes_of_damage" /dev/urandom >>"$work/yedekleme.lst" ;;
    cut)
        # yes ends on the broken pipe that head leaves it
        (set +o pipefail; yes $'"07-12-2026","10:00:00","/media/yedek/07-12-2026/7122026.1\r' |
            head -c "$bytes_of_damage" >>"$work/yedekleme.lst")
        ;;
    zeros) head -c "$bytes_of_damage" /dev/zero >>"$work/yedekleme.lst" ;;
    esac
}

# Runs one build on the history in place, appending "seconds peak-KB" to the
# named results file. --durum and --denetle end with a status of their own when
# backups are missing, as they are here; only a crash or a kill is a failure.
measure() {
    local name=$1 executable=$2 option=$3 status=0
    cp "$executable" "$work/kavlento"
    /usr/bin/time -f "%e %M" -o "$work/last" \
        env -u DISPLAY -u WAYLAND_DISPLAY "$work/kavlento" 4702519836 "$option" \
        >/dev/null 2>"$work/stderr" || status=$?
    if ((status >= 126)); then
        echo "$name failed with status $status:" >&2
        tail -n 5 "$work/stderr" >&2
        exit 1
    fi
    tail -n 1 "$work/last" >>"$work/$name.times"
}

kinds=(sound garbage cut zeros)
builds=(ours)
[[ -z "$against" ]] || builds+=(theirs)
rm -f "$work"/*.times
for kind in "${kinds[@]}"; do
    make_history "$kind"
    stat -c %s "$work/yedekleme.lst" >"$work/$kind.size"
    for ((i = 1; i <= reps; i++)); do
        echo "$kind history, repetition $i of $reps" >&2
        for build in "${builds[@]}"; do
            executable=$kavlento
            [[ "$build" == ours ]] || executable=$against
            for option in --durum --denetle; do
                measure "$build-$kind$option" "$executable" "$option"
            done
        done
    done
done

median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
seconds() { cut -d' ' -f1 <"$work/$1.times" | median; }
peak_mb() { cut -d' ' -f2 <"$work/$1.times" | sort -n | tail -n 1 | awk '{printf "%.0f", $1/1024}'; }
mb() { awk -v b="$1" 'BEGIN {printf "%.1f", b/1048576}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf (b > 0 ? "%.2f" : "-"), (b > 0 ? a/b : 0)}'; }

{
    echo "## Kavlento history reading: $records records, $damage MB of damage"
    echo
    echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, median of $reps (peak: the highest)."
    echo "Kavlento executable \`$kavlento\` (sha256 $(sha256sum "$kavlento" | cut -c1-16))."
    [[ -z "$against" ]] || echo "Compared with \`$against\` (sha256 $(sha256sum "$against" | cut -c1-16))."
    echo
    if [[ -z "$against" ]]; then
        echo "| history | MB | option | seconds | vs sound | peak MB | vs sound |"
        echo "|---|---|---|---|---|---|---|"
    else
        echo "| history | MB | option | seconds | vs sound | peak MB | vs sound | seconds vs older | peak vs older |"
        echo "|---|---|---|---|---|---|---|---|---|"
    fi
    for kind in "${kinds[@]}"; do
        for option in --durum --denetle; do
            s=$(seconds "ours-$kind$option"); p=$(peak_mb "ours-$kind$option")
            line="| $kind | $(mb "$(cat "$work/$kind.size")") | \`$option\` | $s | $(ratio "$s" "$(seconds "ours-sound$option")") | $p | $(ratio "$p" "$(peak_mb "ours-sound$option")") |"
            if [[ -n "$against" ]]; then
                line+=" $(ratio "$s" "$(seconds "theirs-$kind$option")") ($(seconds "theirs-$kind$option") s) |"
                line+=" $(ratio "$p" "$(peak_mb "theirs-$kind$option")") ($(peak_mb "theirs-$kind$option") MB) |"
            fi
            echo "$line"
        done
    done
} | tee "$out"
rm -f "$work/yedekleme.lst" "$work/records.lst" # half a gigabyte
echo "written to $out" >&2
