#!/usr/bin/env bash
# Checks that the project's C++ files keep the layout of .clang-format and
# names every file that does not; changes nothing. Mend a file with
# `clang-format -i FILE`.
#
# Usage: scripts/check_format.sh [FILE...]
#   With files, checks those. Otherwise checks every C++ file of the tree, or,
#   when LUMEN_FORMAT_BASE names a commit (e.g. main), only the files changed
#   since it, committed or not.
set -euo pipefail
cd "$(dirname "$0")/.."

command -v clang-format >/dev/null 2>&1 || {
    echo "clang-format is missing (scripts/deps.sh installs it)" >&2
    exit 1
}

if [ $# -gt 0 ]; then
    files=("$@")
elif [ -n "${LUMEN_FORMAT_BASE:-}" ]; then
    mapfile -t files < <(git diff --name-only --diff-filter=d "$LUMEN_FORMAT_BASE" -- \
        '*.cpp' '*.h')
elif git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
    mapfile -t files < <(find bench src tests testsite -name '*.cpp' -o -name '*.h' | sort)
fi

bad=()
for f in "${files[@]}"; do
    if ! clang-format --dry-run -Werror "$f" >/dev/null 2>&1; then
        bad+=("$f")
    fi
done

if [ ${#bad[@]} -gt 0 ]; then
    echo "These ${#bad[@]} of ${#files[@]} files do not keep the layout of .clang-format:" >&2
    printf '  %s\n' "${bad[@]}" >&2
    echo "Mend them with: clang-format -i FILE..." >&2
    exit 1
fi
echo "Layout checked: ${#files[@]} files keep .clang-format."
