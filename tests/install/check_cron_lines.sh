#!/usr/bin/env bash
# The README's cron lines log the status the program ended with, under sh and
# under bash (which many crontabs name in SHELL=): each runs with a stand-in
# for Kavlento that ends with a status of its own.
set -euo pipefail
readme="$(dirname "$0")/../../README.md"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '#!/bin/sh\nexit 10\n' >"$work/kavlento"
chmod +x "$work/kavlento"

lines=$(grep -E '^[0-9*]+ [0-9*]+ .*çıkış durumu' "$readme")
[[ -n "$lines" ]] || { echo "no cron line found in the README" >&2; exit 1; }
status=0
while IFS= read -r line; do
    # What cron runs: the line after its five time fields, with \% as %.
    command=$(sed -E 's/^([^ ]+ +){5}//; s/\\%/%/g' <<<"$line")
    command=${command//\/path\/to\/host\/data-folder\/kavlento/$work/kavlento}
    for shell in sh bash; do
        rm -f "$work/kavlento.log"
        HOME=$work "$shell" -c "$command"
        if ! tail -n 1 "$work/kavlento.log" | grep -q 'çıkış durumu 10$'; then
            echo "under $shell the line logged: $(tail -n 1 "$work/kavlento.log")" >&2
            echo "  $line" >&2
            status=1
        fi
    done
done <<<"$lines"
exit $status
