#!/usr/bin/env bash
# Fails when a C++ file of the project is not as clang-format (.clang-format)
# leaves it, naming the files.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if ((${#files[@]} == 0)); then
    echo "Format: no C++ file found; the check read nothing" >&2
    exit 1
fi
unformatted=()
for file in "${files[@]}"; do
    clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done
if ((${#unformatted[@]})); then
    echo "Format: not as clang-format leaves them (run clang-format -i on them):" >&2
    printf '  %s\n' "${unformatted[@]}" >&2
    exit 1
fi
echo "Format: all ${#files[@]} C++ files are as clang-format leaves them."
