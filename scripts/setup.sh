#!/usr/bin/env bash
# Installs the Debian packages Kavlento needs to build, run and test, and only those
# that are missing: quick when everything is present, safe to run again.
set -euo pipefail

packages=(
    # build, and the format the code is kept in
    cmake g++ make pkg-config clang-format
    # libraries
    qt6-base-dev libzip-dev libdeflate-dev libisal-dev libssl-dev zlib1g-dev
    # Turkish texts of Qt's own dialogs, and fonts with every Turkish letter
    qt6-translations-l10n fonts-liberation2 fonts-dejavu-core fonts-dejavu-extra
    # tests: GoogleTest, independent archivers, a virtual display
    libgtest-dev libgmock-dev 7zip zip unzip xvfb xauth xdotool
    # a database with a journal of its own, as host applications keep
    sqlite3
    # privilege drop for permission tests run as root
    util-linux
    # file systems mounted by tests: exFAT and FAT32 as on USB sticks (through
    # FUSE, on an image; exFAT on a loop device), a clock held still for two
    # backups in one second, and a kill at an exact system call
    exfat-fuse exfatprogs fusefat dosfstools fuse3 mount faketime strace
    # locale sources, for a regional setting made by a test (localedef)
    locales
    # fuzzing with libFuzzer, and peak memory for the benchmark
    clang libclang-rt-14-dev time
)
# `setup.sh windows`: also what builds Kavlento for 64-bit Windows (see
# scripts/windows.sh): the MinGW-w64 compiler with POSIX threads, its zlib,
# the host's Qt tools, what unpacks Debian's source packages, and Wine with a
# virtual display for the tests.
if [[ "${1:-}" == windows ]]; then
    packages+=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev qt6-base-dev-tools ninja-build
        xz-utils dpkg-dev wine64)
fi

# One query for all of them; a package installed for a second architecture
# (i386 beside Wine) or held counts as installed.
installed=$(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${packages[@]}" 2>/dev/null || true)
missing=()
for p in "${packages[@]}"; do
    grep -qx "$p installed" <<<"$installed" || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
    sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
