#!/bin/sh
# Splits the C++ blocks of README.md into two translation units, each block
# under a #line directive naming its place in README.md:
#   EXTENDED  every ```cpp block before the heading "## The documented
#             interface" (the step-by-step journey, one file in order)
#   LEGACY    every ```cpp block from that heading on
# Fails when either part has no block, so a README without snippets cannot
# pass for one whose snippets compile.
#
#   readme_snippets.sh README.md EXTENDED.cpp LEGACY.cpp
set -eu
readme=$1 extended=$2 legacy=$3
awk -v extended="$extended" -v legacy="$legacy" -v readme="$readme" '
BEGIN { out = extended; printf "" > extended; printf "" > legacy }
/^## The documented interface/ { out = legacy }
/^```cpp$/ { inside = 1; blocks[out]++; printf "#line %d \"%s\"\n", NR + 1, readme > out; next }
/^```$/ && inside { inside = 0; next }
inside { print > out }
END {
    if (inside) { print readme ": a ```cpp block is not closed" > "/dev/stderr"; exit 1 }
    if (!blocks[extended] || !blocks[legacy]) {
        print readme ": no C++ block for the extended or the documented interface" > "/dev/stderr"
        exit 1
    }
}' "$readme"
