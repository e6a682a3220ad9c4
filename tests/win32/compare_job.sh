#!/bin/sh
# compare-windows-job.sh LINUX_BUILD MINGW_BUILD Z_START HEAT_TEMP SPEED
#
# Runs visor-gcode of the Linux build and visor-gcode.exe of the Windows
# build (under Wine) in plain mode, the three values piped in, each in a
# folder of its own, and compares the two dagoma0.g byte for byte, all but
# the first line (it holds the time of day). Both must end with status 0
# and say that the file was created, then report what the job will take in
# the same words (but for the file's full path, each system's own). The job that gcode_dump_printf.exe writes, every number
# through the C runtime's printf, must be the same too.
set -eu
[ $# -eq 5 ] || { echo "usage: $0 LINUX_BUILD MINGW_BUILD Z_START HEAT_TEMP SPEED" >&2; exit 2; }
linux_build=$(cd "$1" && pwd)
mingw_build=$(cd "$2" && pwd)
shift 2
wine_run=$(cd "$(dirname "$0")/../../cmake" && pwd)/wine-run
work="$mingw_build/job-compare"
rm -rf "$work"
mkdir -p "$work/linux" "$work/windows"

status=0
run() {  # run NAME PROGRAM...
  name=$1
  shift
  if ! (cd "$work/$name" && printf '%s\n%s\n%s\n' "$Z" "$HEAT" "$SPEED" | "$@" >out.txt 2>&1); then
    echo "$name: exit status not 0"
    cat "$work/$name/out.txt"
    status=1
  fi
  if ! tr -d '\r' <"$work/$name/out.txt" | grep -qx 'Created file:     dagoma0.g (in current directory)'; then
    echo "$name: no 'Created file:' line"
    status=1
  fi
  if ! head -n 1 "$work/$name/dagoma0.g" | grep -q '^; Generated at '; then
    echo "$name: the first line is not the time line"
    status=1
  fi
  # The full path is each system's own: its folder is left out, the file's
  # name and size are compared with the rest; so is the path the program
  # was started by, which it names in the command that checks a copy.
  if ! tr -d '\r' <"$work/$name/out.txt" | grep -q '^Full path: .*dagoma0\.g ([0-9.]* MB)$'; then
    echo "$name: no 'Full path:' line"
    status=1
  fi
  tr -d '\r' <"$work/$name/out.txt" | sed -n '/^Created file:/,$p' |
    sed -e 's|^\(Full path: *\).*[/\\]dagoma0\.g |\1dagoma0.g |' \
      -e 's|^\(After copying: *\).* --check |\1visor-gcode --check |' >"$work/$name/result"
  tail -n +2 "$work/$name/dagoma0.g" >"$work/$name/tail"
  rm -f "$work/$name/dagoma0.g"
}

Z=$1 HEAT=$2 SPEED=$3
run linux "$linux_build/src/frontend/visor-gcode"
run windows "$wine_run" "$mingw_build/wine-prefix" "$mingw_build/src/frontend/visor-gcode.exe"
"$wine_run" "$mingw_build/wine-prefix" "$mingw_build/tools/gcode_dump_printf.exe" \
  "$Z" "$HEAT" "$SPEED" "$work/printf.g" >/dev/null || status=1
tail -n +2 "$work/printf.g" >"$work/printf.tail"
rm -f "$work/printf.g"
if ! diff "$work/linux/result" "$work/windows/result"; then
  echo "values $Z $HEAT $SPEED: the two builds report the job differently"
  status=1
fi
if cmp "$work/linux/tail" "$work/windows/tail" && cmp "$work/linux/tail" "$work/printf.tail"; then
  echo "values $Z $HEAT $SPEED: identical, $(wc -l <"$work/linux/tail") lines after the time line"
else
  status=1
fi
rm -rf "$work"
exit $status
