#!/usr/bin/env bash
# Prints test lines against code lines: non-blank, non-comment lines of the C++ files in tests/ against those
# in src/, include/, app/, gtk/, tools/ and bench/. Tests should stay a quarter to a third of the code.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# Counts lines that hold something besides whitespace and comments (// lines and /* */ blocks).
count() {
    git ls-files -- "$@" | grep -E '\.(cpp|hpp|h|cc)$' | while read -r f; do cat "$f"; echo; done | awk '
        {
            line = $0; out = ""
            while (length(line) > 0) {
                if (inblock) {
                    end = index(line, "*/")
                    if (end == 0) { line = ""; break }
                    line = substr(line, end + 2); inblock = 0
                } else {
                    start = index(line, "/*"); slash = index(line, "//")
                    if (slash > 0 && (start == 0 || slash < start)) { out = out substr(line, 1, slash - 1); line = "" }
                    else if (start > 0) { out = out substr(line, 1, start - 1); line = substr(line, start + 2); inblock = 1 }
                    else { out = out line; line = "" }
                }
            }
            if (out ~ /[^ \t\r]/) n++
        }
        END { print n + 0 }'
}

tests=$(count tests)
code=$(count src include app gtk tools bench)
awk -v t="$tests" -v c="$code" 'BEGIN { printf "tests %d, code %d: %.1f %%\n", t, c, 100 * t / c }'
