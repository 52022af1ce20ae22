#!/bin/sh
# The classic trade-off of a two-stage selection: stage 2's weights move from a cognitive-like
# set (cognitive test and job knowledge) to a personality-like set (personality inventory and
# structured interview). Writes the rows to sweep-weights.csv and the plot to sweep-weights.png.
#   examples/sweep-weights.sh [build directory]
# Without one it takes ../build/traz beside this folder, or traz on the PATH (make install).
set -eu
here=$(dirname "$0")
if [ $# -gt 0 ]; then traz=$1/traz
elif [ -x "$here/../build/traz" ]; then traz=$here/../build/traz
else traz=traz
fi
"$traz" sweep "$here/sweep-weights.deck" --vary 'mix(2)=0:1:0.1' --mix-to 0,0,1,1 \
    -o sweep-weights.csv --plot sweep-weights.png
echo "wrote sweep-weights.csv and sweep-weights.png"
