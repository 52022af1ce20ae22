#!/bin/sh
# Copies the TRAZ library's sources (what the C++ target traz_api is built from: the public
# header and api/, the evaluation, the simulation, the deck, the model, the cubature, the normal probabilities
# and the report/JSON/CSV views, not the plots) from the repository into src/traz, where the
# package compiles them. The copy is generated: it is never committed, and a source tarball
# carries it. Files that did not change are left as they are, so a rebuild compiles only what
# changed. Run from the package folder (r/):  sh tools/stage-sources.sh
set -e
repo=..
dest=src/traz
rooms="include/traz api evaluate deck model cubature mvn views views/format simulate"
for room in $rooms; do
  mkdir -p "$dest/$room"
  for f in "$repo/$room"/*.cpp "$repo/$room"/*.hpp; do
    [ -f "$f" ] || continue
    case "$f" in */views/plot*) continue ;; esac
    cmp -s "$f" "$dest/$room/${f##*/}" || cp "$f" "$dest/$room/"
  done
  # Sources the repository no longer has.
  for f in "$dest/$room"/*.cpp "$dest/$room"/*.hpp; do
    if [ -f "$f" ] && [ ! -f "$repo/$room/${f##*/}" ]; then rm -f "$f" "${f%.cpp}.o"; fi
  done
done
# The version the views print, from the top CMakeLists.txt.
sed -n 's/^project(traz VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt" > "$dest/VERSION"
