#!/usr/bin/env bash
# Measures `torvix-cli analyze --report --pdf` on a 1-hour load test at 50 records a second
# (180,000 rows, the load switched every minute: 60 steps and 61 plots, in the HTML page and
# again in the PDF), recorded from the simulator's set model: wall time, CPU time and peak RSS
# of the whole process (torvix-report beside it included), best and worst of RUNS.
#
# Usage: bench/measure_analyze.sh [--build DIR] [--runs N] [--keep]
#   --build DIR   configured build folder (default build; Release or RelWithDebInfo for figures)
#   --runs N      runs of analyze (default 5)
#   --keep        keep the work folder with the record and the report
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
runs=5
keep=0
while (($#)); do
  case "$1" in
    --build) build=$(cd "${2:?--build wants a folder}" && pwd); shift 2 ;;
    --runs) runs=${2:?--runs wants a number}; shift 2 ;;
    --keep) keep=1; shift ;;
    -h | --help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "measure_analyze.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
[ -x /usr/bin/time ] || { echo "measure_analyze.sh: /usr/bin/time is missing; run scripts/install-deps.sh" >&2; exit 1; }
[ -f "$build/CMakeCache.txt" ] || { echo "measure_analyze.sh: $build is not a configured build folder" >&2; exit 1; }
cmake --build "$build" --target torvix-cli make_load_record >/dev/null

work=$(mktemp -d)
((keep)) || trap 'rm -rf "$work"' EXIT
"$build/bench/make_load_record" "$work/hour.csv" 1 50

echo "Machine:   $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores, $(free -m | awk '/^Mem:/ {print $2}') MiB memory"
echo "Kernel:    $(uname -sr); Qt $(dpkg-query -W -f='${Version}' libqt6core6 2>/dev/null || echo unknown); QCustomPlot $(dpkg-query -W -f='${Version}' libqcustomplot2.1-qt6 2>/dev/null || dpkg-query -W -f='${Version}' libqcustomplot-dev)"
echo "Build:     $(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")"
echo "Record:    $(($(wc -l <"$work/hour.csv") - 1)) rows, $(head -1 "$work/hour.csv" | tr ',' '\n' | wc -l) columns, $(du -m "$work/hour.csv" | cut -f1) MB"
echo "Load:      $(cut -d' ' -f1-3 /proc/loadavg) before the runs"
printf '%-4s %8s %8s %8s %10s %9s %6s\n' run wall_s user_s sys_s peak_rss_mb report_mb pdf_mb
for ((i = 1; i <= runs; i++)); do
  rm -f "$work/report.html" "$work/report.pdf"
  QT_QPA_PLATFORM=offscreen /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" \
    "$build/torvix-cli" analyze "$work/hour.csv" --report "$work/report.html" \
    --pdf "$work/report.pdf" --title "Нагрузочное испытание" --engineer "Испытатель" \
    >"$work/table.txt" 2>/dev/null
  read -r wall user sys rss <"$work/time.txt"
  printf '%-4s %8s %8s %8s %10s %9s %6s\n' "$i" "$wall" "$user" "$sys" "$((rss / 1024))" \
    "$(du -m "$work/report.html" | cut -f1)" "$(du -m "$work/report.pdf" | cut -f1)"
done
echo "Load:      $(cut -d' ' -f1-3 /proc/loadavg) after the runs"
echo "Steps:     $(grep -c -E '^[0-9]+ ' "$work/table.txt"); $(grep '^Класс испытания' "$work/table.txt")"
command -v pdfinfo >/dev/null && echo "PDF:       $(pdfinfo "$work/report.pdf" | sed -n 's/^Pages: *//p') pages A4"
((keep)) && echo "Kept:      $work"
exit 0
