#!/usr/bin/env bash
# Formats C++ sources with the project's .clang-format, braces left out around
# a single statement (LLVM's rule). clang-format 14 applies that rule only
# through RemoveBracesLLVM, which also bends the layout of lambda arguments,
# so a second, plain pass lays the code out again.
#
#   format.sh [FILE...]          formats the files (default: every tracked .h and .cpp)
#   format.sh --check [FILE...]  changes nothing, names the files that would
#                                change and fails when there are any
set -euo pipefail
cd "$(dirname "$0")/.."

check=false
if [ "${1:-}" = --check ]; then
  check=true
  shift
fi
if [ $# -eq 0 ]; then
  mapfile -t files < <(git ls-files '*.h' '*.cpp')
else
  files=("$@")
fi

style=$PWD/.clang-format
braces=$(mktemp)
trap 'rm -f "$braces"' EXIT
{ cat "$style"; echo "RemoveBracesLLVM: true"; } >"$braces"

status=0
for file in "${files[@]}"; do
  # The dot keeps the trailing newlines that $(...) would drop.
  formatted=$(clang-format --style="file:$braces" --assume-filename="$file" <"$file" |
    clang-format --style="file:$style" --assume-filename="$file"; echo .)
  formatted=${formatted%.}
  if ! printf '%s' "$formatted" | cmp -s - "$file"; then
    if $check; then
      echo "$file"
      status=1
    else
      printf '%s' "$formatted" >"$file"
    fi
  fi
done
exit $status
