#!/usr/bin/env bash
# Every export of the real level through the Khronos glTF Validator: --all in both forms, every
# --objects file in both forms (the .gltf ones with their shared pages), a moveable and a static
# alone, a sample of meshes and the glowing beam. Each must give 0 errors
# and 0 warnings.
# The sample level's rooms, placements and items are patterns that name vertices, statics and
# moveables it does not have: its whole-level export must come out valid all the same.
# Usage: validate_exports.sh TR4TOOL LEVEL NODE VALIDATOR_DIR validate_gltf.js OUT_DIR SAMPLE
set -euo pipefail
tool=$1 level=$2 node=$3 validator=$4 script=$5 out=$6 sample=$7
rm -rf "$out"
mkdir -p "$out"
"$tool" export "$level" --all -o "$out/all.glb"
"$tool" export "$level" --all -o "$out/all.gltf"
"$tool" export "$level" --objects "$out/objects"
"$tool" export "$level" --objects "$out/objects-gltf" --format gltf --animations 2>/dev/null
"$tool" export "$level" --moveable 0 --animations -o "$out/player-animated.glb" 2>/dev/null
"$tool" export "$level" 170 -o "$out/beam.gltf"
"$tool" export "$level" --level -o "$out/level.glb"
"$tool" export "$level" --level -o "$out/level.gltf"
"$tool" export "$level" --level --no-items --no-lights -o "$out/rooms.glb"
"$tool" export "$sample" --level -o "$out/damaged-level.gltf" 2>/dev/null
"$tool" export "$level" --moveable 0 -o "$out/lara.gltf"
"$tool" export "$level" --static 10 --scale 0.01 -o "$out/static.glb"
"$tool" export "$level" 0 1 72 100 150 190 -o "$out/sample.glb"
"$tool" export "$level" 72 -o "$out/points.gltf"
count=$(ls "$out/objects" | wc -l)
[[ $count -gt 50 ]] || { echo "only $count object files"; exit 1; }
"$node" "$script" "$validator" "$out"/*.glb "$out"/*.gltf "$out"/objects/*.glb \
  "$out"/objects-gltf/*.gltf
