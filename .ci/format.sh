#!/usr/bin/env bash
# Checks that every C++ source of the project is formatted as .clang-format
# says. Prints the offending places and exits non-zero when one is not;
# `clang-format -i FILE` fixes a file.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if clang-format --dry-run --Werror "${files[@]}"; then
    echo "clang-format: ${#files[@]} files formatted as .clang-format says" >&2
else
    echo "clang-format: files above are not formatted (fix with clang-format -i FILE)" >&2
    exit 1
fi
