#!/usr/bin/env bash
# Records or checks every file a batch run writes, byte for byte, for a set
# of cases: the three samples, a swept wing and the large benchmark grid at
# Max.residual 1E-05.  Use it around a change that must not alter results:
#
#   tools/compare-outputs.sh record REFDIR   (before the change)
#   tools/compare-outputs.sh check  REFDIR   (after every step of it)
#
# BUILD (default build/) names the build directory with quarel-batch.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:?record or check}
ref=$(mkdir -p "${2:?reference directory}" && cd "$2" && pwd)
batch="$here/${BUILD:-build}/quarel-batch"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# name | input | batch options
cases=(
  "naca0012|$here/examples/naca0012.dat|"
  "naca0012_m080|$here/examples/naca0012_m080.dat|"
  "naca2412|$here/examples/naca2412.dat|"
  "swept|$here/examples/naca2412.dat|--swept 25 --alpha 2 --mach 0.8"
  "bench496|GEN|"
)

status=0
for c in "${cases[@]}"; do
  IFS='|' read -r name input opts <<< "$c"
  dir="$work/$name"
  mkdir -p "$dir"
  if [ "$input" = GEN ]; then
    python3 "$here/tools/make_naca.py" 0012 --mach 0.8 --alpha 1.25 --residual 1e-5 \
      --npa 84 --nco 24 --nbh 20 --kgrid 4 --linear 10 --gmres 15 \
      --ratios 1.03 1.04 1.04 1.03 1.04 1.04 1.03 -o "$dir/case.dat"
  else
    cp "$input" "$dir/case.dat"
  fi
  # shellcheck disable=SC2086
  code=0
  (cd "$dir" && "$batch" --save $opts case.dat > console.txt 2> errors.txt) || code=$?
  echo "exit $code" >> "$dir/console.txt"
  rm "$dir/case.dat"
  if [ "$mode" = record ]; then
    rm -rf "${ref:?}/$name"
    cp -r "$dir" "$ref/$name"
    echo "recorded $name: $(ls "$dir" | tr '\n' ' ')"
  else
    if diff -r "$ref/$name" "$dir" > "$work/$name.diff"; then
      echo "same     $name"
    else
      echo "DIFFERS  $name"; head -20 "$work/$name.diff"; status=1
    fi
  fi
done
exit $status
