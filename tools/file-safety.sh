#!/usr/bin/env bash
# Checks that the files of a job survive concurrent runs and kills whole:
#
#   tools/file-safety.sh [PAIRS [KILLS]]     (defaults 20 and 30)
#
# 1. PAIRS times, two runs of one input at once (alpha 1 and alpha 2): both
#    must exit 0, and the restart, Cp and log files must all be those of one
#    of the two runs (compared byte for byte with runs made alone).
# 2. KILLS times, a run killed (SIGKILL) at the moment one of its temporary
#    files or the marker of the restart/Cp pair appears, that is between a
#    write and its rename, or at a random moment: every file must then be
#    the old complete one or the new complete one, never empty or mixed; a
#    restart/Cp pair of two runs must be marked, so that the reader refuses
#    it.
# BUILD (default build/) names the build directory with quarel-batch.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
batch="$here/${BUILD:-build}/quarel-batch"
pairs=${1:-20}
kills=${2:-30}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
files=(x.ptl x.cp x.itr x_1.out grid.out)
fail=0

python3 "$here/tools/make_naca.py" 2412 --mach 0.7 --alpha 1 --npa 32 --nco 6 --nbh 6 \
  --kgrid 2 --residual 1e-9 -o "$work/x.dat"

# Reference files of each alpha, each run alone.
for a in 1 2; do
  mkdir -p "$work/ref$a"
  cp "$work/x.dat" "$work/ref$a/"
  (cd "$work/ref$a" && "$batch" --quiet --save --alpha $a x.dat > /dev/null 2>&1) ||
    { echo "reference run alpha $a failed"; exit 1; }
done

same() { cmp -s "$1" "$2"; }

# 1. Two runs at once.
for ((n = 1; n <= pairs; n++)); do
  d="$work/pair$n"
  mkdir -p "$d" && cp "$work/x.dat" "$d/"
  (cd "$d" && "$batch" --quiet --alpha 1 x.dat > out1 2> err1; echo $? > code1) &
  (cd "$d" && "$batch" --quiet --alpha 2 x.dat > out2 2> err2; echo $? > code2) &
  wait
  for r in 1 2; do
    [ "$(cat "$d/code$r")" = 0 ] || { echo "pair $n: run $r exited $(cat "$d/code$r")"; fail=1; }
  done
  owner=""
  for a in 1 2; do
    same "$d/x.ptl" "$work/ref$a/x.ptl" && owner=$a
  done
  if [ -z "$owner" ]; then
    echo "pair $n: the restart file is neither run's"; fail=1
  else
    for f in x.cp grid.out; do
      same "$d/$f" "$work/ref$owner/$f" || { echo "pair $n: $f is not that of the run that wrote x.ptl"; fail=1; }
    done
    # The log holds every run of the program's session: the later run's.
    same "$d/x.itr" "$work/ref$owner/x.itr" || { echo "pair $n: x.itr mixed"; fail=1; }
  fi
  ls "$d" | grep -q '\.part' && { echo "pair $n: temporary files left"; fail=1; }
done
echo "concurrent pairs: $pairs checked"

# 2. Kills aimed between write and rename, and at random moments.
hits=0
for ((n = 1; n <= kills; n++)); do
  d="$work/kill$n"
  mkdir -p "$d"
  cp "$work/ref1/"{x.dat,x.ptl,x.cp,x.itr,x_1.out,grid.out} "$d/"
  (cd "$d" && exec "$batch" --quiet --save --alpha 2 x.dat > /dev/null 2>&1) &
  pid=$!
  if ((n % 3 == 0)); then
    sleep "0.$((RANDOM % 10))$((RANDOM % 10))"
  else
    # Wait for a temporary file (or the pair marker) to appear, then kill.
    while kill -0 $pid 2> /dev/null; do
      if compgen -G "$d/*.part*" > /dev/null || [ -e "$d/x.ptl.pair" ]; then
        hits=$((hits + 1))
        break
      fi
    done
  fi
  kill -9 $pid 2> /dev/null
  wait $pid 2> /dev/null
  for f in "${files[@]}"; do
    if [ -e "$d/$f" ] && ! same "$d/$f" "$work/ref1/$f" && ! same "$d/$f" "$work/ref2/$f"; then
      echo "kill $n: $f is neither the old nor the new file ($(wc -c < "$d/$f") bytes)"; fail=1
    fi
  done
  old=0; new=0
  same "$d/x.ptl" "$work/ref1/x.ptl" && same "$d/x.cp" "$work/ref1/x.cp" && old=1
  same "$d/x.ptl" "$work/ref2/x.ptl" && same "$d/x.cp" "$work/ref2/x.cp" && new=1
  if [ $old = 0 ] && [ $new = 0 ] && [ ! -e "$d/x.ptl.pair" ]; then
    echo "kill $n: x.ptl and x.cp come from different runs, unmarked"; fail=1
  fi
done
echo "kills: $kills made, $hits aimed at a temporary file or the pair marker"
[ $fail = 0 ] && echo "all files whole" || echo "FAILED"
exit $fail
