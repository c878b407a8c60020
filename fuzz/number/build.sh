#!/bin/sh
# Builds the number parser's fuzz target with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer into the folder given as the first argument.
# Run it, for example for 30 seconds, with:
#   OUT/parse_fuzz -max_total_time=30 -dict=fuzz/number/number.dict OUT/corpus fuzz/number/corpus
set -eu
if [ $# -lt 1 ]; then
    echo "usage: $0 OUTPUT_FOLDER" >&2
    exit 2
fi
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
OUT=$1
mkdir -p "$OUT/corpus"
${CXX:-clang++} -std=c++17 -g -O1 -fno-omit-frame-pointer \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$ROOT" \
    "$HERE/parse_fuzz.cpp" "$ROOT/controls/FloatFormat.cpp" \
    -o "$OUT/parse_fuzz"
echo "built $OUT/parse_fuzz"
