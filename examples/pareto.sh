#!/bin/sh
# Which weights? The Pareto front of a two-stage selection with a cognitive-like (cognitive
# test, job knowledge test) and a personality-like (personality inventory, structured
# interview) predictor set: for each impact ratio, the stage weights with the highest expected
# criterion score. Writes the rows to pareto.csv, the plot to pareto.png and each point's deck
# to decks/, then compares the deck's own equal weights with the front's first point and its
# point 17 (nearest the four-fifths line).
#   examples/pareto.sh [build directory]
set -eu
here=$(dirname "$0")
traz=${1:-$here/../build}/traz
"$traz" pareto "$here/pareto.deck" -o pareto.csv --plot pareto.png --decks decks
echo "wrote pareto.csv, pareto.png and decks/point-01.deck ... decks/point-21.deck"
"$traz" compare "$here/pareto.deck" decks/point-01.deck decks/point-17.deck --fitted
