#!/usr/bin/env bash
# Formats every C++ file of the repository with its .clang-format; with --check, only reports.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mapfile -t files < <(git ls-files '*.cpp' '*.hpp' 2>/dev/null)
((${#files[@]})) || exit 0
if [[ "${1:-}" == --check ]]; then
    clang-format --dry-run --Werror "${files[@]}"
    echo "format: ${#files[@]} files clean"
else
    clang-format -i "${files[@]}"
fi
