#!/bin/sh
# compare_dumps.sh FAST REFERENCE DIR Z_START HEAT_TEMP SPEED
# Writes the job with both builds of the number converter and compares them
# byte for byte, all but the first line (it holds the time of day).
set -eu
fast=$1 reference=$2 dir=$3
shift 3
mkdir -p "$dir"
"$fast" "$@" "$dir/fast.g" >/dev/null
"$reference" "$@" "$dir/reference.g" >/dev/null
tail -n +2 "$dir/fast.g" >"$dir/fast.tail"
tail -n +2 "$dir/reference.g" >"$dir/reference.tail"
status=0
cmp "$dir/fast.tail" "$dir/reference.tail" || status=1
[ "$(wc -l <"$dir/fast.g")" -eq 3758388 ] || { echo "wrong line count"; status=1; }
rm -f "$dir/fast.g" "$dir/reference.g" "$dir/fast.tail" "$dir/reference.tail"
exit $status
