#!/usr/bin/env bash
# The front ends reach the core through the engine only: no file under src/cli or src/ui
# includes a header of nntp/, scan/ or download/ (the engine's own headers and the plain
# value types of app/ and db/records.h are theirs to include).
set -u
src=${1:?usage: check_front_end_includes.sh SRC_DIR}
found=$(grep -rnE '#include[[:space:]]*[<"](nntp|scan|download)/' "$src/cli" "$src/ui" 2>/dev/null)
if [ -n "$found" ]; then
    echo "front ends include core internals; use the engine instead:"
    echo "$found"
    exit 1
fi
echo "front-end includes: engine and value types only"
