#!/bin/sh
# Builds the settings file's fuzz target with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer into the folder given as the first argument.
# Run it, for example for 30 seconds, with:
#   OUT/ini_fuzz -max_total_time=30 -dict=fuzz/ini/ini.dict OUT/corpus fuzz/ini/corpus
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
    "$HERE/ini_fuzz.cpp" "$ROOT/platform/IniFile.cpp" "$ROOT/platform/Exception.cpp" \
    -o "$OUT/ini_fuzz"
echo "built $OUT/ini_fuzz"
