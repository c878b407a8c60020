#!/bin/sh
# Builds one fuzz target with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer: fuzz/build.sh number|ini|link|rtu|version|gateway OUTPUT_FOLDER
# scripts/fuzz builds and runs them all; by hand, for example:
#   fuzz/build.sh number /tmp/f && /tmp/f/parse_fuzz -max_total_time=30 \
#       -dict=fuzz/number/number.dict /tmp/f/corpus fuzz/number/corpus
set -eu
if [ $# -lt 2 ]; then
    echo "usage: $0 number|ini|link|rtu|version|gateway OUTPUT_FOLDER" >&2
    exit 2
fi
ROOT=$(cd "$(dirname "$0")/.." && pwd)
case $1 in
    number) EXE=parse_fuzz; SOURCES="fuzz/number/parse_fuzz.cpp controls/FloatFormat.cpp" ;;
    ini) EXE=ini_fuzz; SOURCES="fuzz/ini/ini_fuzz.cpp platform/IniFile.cpp platform/IniFileStorage.cpp platform/Exception.cpp core/Text.cpp" ;;
    link) EXE=link_fuzz; SOURCES="fuzz/link/link_fuzz.cpp linksetting/LinkConfig.cpp core/Endpoint.cpp core/SerialSpeeds.cpp core/Text.cpp core/XdgPaths.cpp" ;;
    rtu) EXE=rtu_fuzz; SOURCES="fuzz/rtu/rtu_fuzz.cpp link/RtuFrame.cpp link/Registers.cpp link/Mbap.cpp" ;;
    gateway) EXE=gateway_fuzz; SOURCES="fuzz/gateway/gateway_fuzz.cpp gateway/Pdu.cpp link/Mbap.cpp link/RtuFrame.cpp" ;;
    plot) EXE=plot_fuzz; SOURCES="fuzz/plot/plot_fuzz.cpp plot/History.cpp plot/Decimate.cpp plot/CsvExport.cpp core/SampleCsv.cpp" ;;
    version) EXE=version_fuzz; SOURCES="fuzz/version/version_fuzz.cpp platform/VersionInfo.cpp platform/Exception.cpp" ;;
    *) echo "unknown fuzz target $1" >&2; exit 2 ;;
esac
OUT=$2
mkdir -p "$OUT/corpus"
FILES=""
for f in $SOURCES; do FILES="$FILES $ROOT/$f"; done
# shellcheck disable=SC2086
${CXX:-clang++} -std=c++17 -g -O1 -fno-omit-frame-pointer \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$ROOT" $FILES -o "$OUT/$EXE"
echo "built $OUT/$EXE"
