#!/bin/sh
# The classic trade-off of a two-stage selection: stage 2's weights move from a cognitive-like
# set (cognitive test and job knowledge) to a personality-like set (personality inventory and
# structured interview). Writes the rows to sweep-weights.csv and the plot to sweep-weights.png.
#   examples/sweep-weights.sh [build directory]
set -eu
here=$(dirname "$0")
traz=${1:-$here/../build}/traz
"$traz" sweep "$here/sweep-weights.deck" --vary 'mix(2)=0:1:0.1' --mix-to 0,0,1,1 \
    -o sweep-weights.csv --plot sweep-weights.png
echo "wrote sweep-weights.csv and sweep-weights.png"
