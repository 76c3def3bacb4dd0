#!/usr/bin/env bash
# Fails, naming the lines, when a C++ file of the tree is not laid out as
# .clang-format says; run by CTest as the test "format", so the quick run
# and every stage of ./test.sh --all catch it. Fix a file with
#   clang-format-14 -i FILE
# Checks the files git knows of and new ones it does not ignore (every
# source and header when the tree is not a git checkout).
set -euo pipefail
cd "$(dirname "$0")/.."
FORMAT=${CLANG_FORMAT:-clang-format-14}
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t listed < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h')
else
  mapfile -t listed < <(find src tests bench fuzz -name '*.cpp' -o -name '*.h')
fi
# A file deleted but not yet staged is still listed.
files=()
for f in "${listed[@]}"; do
  [ -f "$f" ] && files+=("$f")
done
"$FORMAT" --dry-run -Werror "${files[@]}"
echo "format: ${#files[@]} files as .clang-format lays them out"
