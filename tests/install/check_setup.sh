#!/usr/bin/env bash
# The set-up script installs nothing on a machine that has every package, also
# where one is held and another installed for a second architecture (i386
# beside Wine): every demo start runs it, and apt-get would cost each one
# tens of seconds.
set -euo pipefail
setup="$(dirname "$0")/../../scripts/setup.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/dpkg-query" <<'FAKE'
#!/usr/bin/env bash
format=
packages=()
for argument in "$@"; do
    case $argument in
    -W) ;;
    -f=*) format=${argument#-f=} ;;
    *) packages+=("$argument") ;;
    esac
done
for i in "${!packages[@]}"; do
    status="install ok installed"
    ((i == 0)) && status="hold ok installed"
    copies=1
    ((i == 1)) && copies=2
    for ((c = 0; c < copies; c++)); do
        line=${format//'${Package}'/${packages[i]}}
        line=${line//'${db:Status-Status}'/installed}
        printf '%b' "${line//'${Status}'/$status}"
    done
done
FAKE
for tool in apt-get sudo; do
    printf '#!/bin/sh\necho "$0 $*" >>"%s/called"\nexit 1\n' "$work" >"$work/$tool"
done
chmod +x "$work"/*
PATH="$work:$PATH" bash "$setup"
if [[ -e "$work/called" ]]; then
    echo "setup.sh ran: $(cat "$work/called")" >&2
    exit 1
fi
