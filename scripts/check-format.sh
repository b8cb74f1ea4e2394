#!/usr/bin/env bash
# Checks that every C++ file git tracks is formatted as .clang-format says; names the ones
# that are not and exits 1. With --fix, formats them in place instead.
set -uo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.h' '*.cpp')
if [[ "${1:-}" == "--fix" ]]; then
    clang-format -i "${files[@]}"
    exit 0
fi
status=0
for file in "${files[@]}"; do
    if ! clang-format --dry-run -Werror "$file" >/dev/null 2>&1; then
        echo "not formatted: $file (scripts/check-format.sh --fix formats it)"
        status=1
    fi
done
exit $status
