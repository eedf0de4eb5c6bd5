#!/usr/bin/env bash
# Fails when a source file includes a header of a layer it may not use. The
# layers and what each may include (README, Development):
#
#   base     nothing of ours
#   fs       base
#   zip      base, fs
#   store    base, fs
#   archive  base, fs, zip
#   app      base, fs, store, archive
#   ui       base, store, app
#   main     everything
set -euo pipefail
cd "$(dirname "$0")/../src"

declare -A allowed=(
    [base]="base"
    [fs]="base fs"
    [zip]="base fs zip"
    [store]="base fs store"
    [archive]="base fs zip archive"
    [app]="base fs store archive app"
    [ui]="base store app ui"
    [main]="base fs zip store archive app ui main"
)

status=0
checked=0
for layer in */; do
    layer=${layer%/}
    if [[ -z "${allowed[$layer]+set}" ]]; then
        echo "src/$layer: a folder that is no layer; add it to scripts/check_layers.sh" >&2
        status=1
        continue
    fi
    while IFS=: read -r file line text; do
        checked=$((checked + 1))
        included=$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"$text")
        if [[ " ${allowed[$layer]} " != *" $included "* ]]; then
            echo "src/$file:$line: $layer may not include $included ($text)" >&2
            status=1
        fi
    done < <(grep -rn -E '^#include "[^/"]+/' "$layer" || true)
done
if ((checked == 0)); then
    echo "Layers: no include of ours found; the check read nothing" >&2
    status=1
elif ((status == 0)); then
    echo "Layers: all $checked includes of ours follow the arrows."
fi
exit $status
