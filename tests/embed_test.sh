#!/usr/bin/env bash
# Configures and builds a project that embeds Tarvel with add_subdirectory.
# Usage: embed_test.sh <cmake> <generator> <tarvel source> <work folder>
set -euo pipefail
cmake=$1 generator=$2 source=$3 work=$4
rm -rf "$work"
"$cmake" -S "$source/tests/embed" -B "$work" -G "$generator" -DTARVEL_SOURCE="$source" \
  -DCMAKE_BUILD_TYPE=Release > "$work.log" 2>&1 || { cat "$work.log"; exit 1; }
"$cmake" --build "$work" --target embedded_check >> "$work.log" 2>&1 || { cat "$work.log"; exit 1; }
[ "$("$work/embedded_check")" = exit ] || { echo "embedded_check gave a wrong answer"; exit 1; }
rm -rf "$work" "$work.log"
echo "Tarvel builds inside another project"
