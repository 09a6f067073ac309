#!/bin/sh
# Installs what a fresh Debian 12 machine lacks, builds the programs and packs
# the bundled example dictionary. The database and work files land in run/.
set -eu
cd "$(dirname "$0")/.."
"$(pwd)/scripts/install-deps.sh"
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
mkdir -p run
cd run
../build/release/src/zelkpack -n Fruits -o fruits.pdb ../examples/fruits.txt
ls -l fruits.pdb out
