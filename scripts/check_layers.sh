#!/usr/bin/env bash
# Fails when a source file includes a header of a layer it may not use, or
# when code above fs reaches the operating system itself. The layers and what
# each may include (README, Development):
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

# Outside fs the code is the same on every system: no POSIX or Windows header,
# no POSIX call, no raw descriptor, no file-type macro of <sys/stat.h>, and no
# fs file that holds system calls (*_posix.h, *_windows.h). base and main may,
# in files named for the system (the clock's regional settings, the heap's
# policy, the display, the stop requests).
posix_headers='unistd|fcntl|dirent|poll|pwd|grp|termios|signal|csignal|spawn|dlfcn|pthread|semaphore|syslog|sched|strings|libgen|glob|fnmatch|netdb|utime|(sys|arpa|netinet|linux)/[a-z_/]+'
posix_calls='open|openat|close|read|write|pread|pwrite|lseek|stat|fstat|lstat|statx|fstatat|fsync|fdatasync|syncfs|ftruncate|truncate|unlink|unlinkat|rename|renameat2?|link|linkat|symlink|readlink|mkdir|rmdir|opendir|readdir|closedir|dup|dup2|fcntl|ioctl|flock|mmap|munmap|pipe|fork|kill|getpid|getuid|geteuid|sigaction|chmod|fchmod|chown|lchown|utimensat|futimens|statvfs|access|isatty|sysconf|gethostname|posix_fadvise|sync_file_range'
windows_headers='windows|winternl|winioctl|winbase|shlobj|aclapi|sddl|ntstatus'
posix_pattern="^#include <(${posix_headers})(\.h)?>|^#include <(${windows_headers})\.h>|(^|[^[:alnum:]_.>:])::(${posix_calls})[[:space:]]*\(|\b(localtime_r|gmtime_r)\b|\bS_IS[A-Z]+[[:space:]]*\(|\bS_IF[A-Z]+\b|\bint[[:space:]]+[a-z_]*fd_?\b|#include \"[^\"]*_(posix|windows)\.h\""
posix_found=0
for layer in base zip archive store app ui main; do
    while IFS=: read -r file line text; do
        [[ "$text" =~ ^[[:space:]]*// ]] && continue
        [[ ("$layer" == main || "$layer" == base) && ("$file" == *_posix.cpp || "$file" == *_windows.cpp) ]] && continue
        echo "src/$file:$line: $layer reaches the system itself; only fs may ($text)" >&2
        posix_found=1
    done < <(grep -rnE "$posix_pattern" "$layer" || true)
done
if ((posix_found == 0)); then
    echo "Layers: nothing outside fs reaches the system itself, but in files named for it."
fi
exit $((status | posix_found))
