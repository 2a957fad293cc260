#!/usr/bin/env bash
# The tests of draxel_assets_add_pack: the game of examples/pack, built over a copy of its asset
# folder, must pack on the first build, do nothing when nothing changed, and pack again exactly
# when a file is changed, added or removed; the same tree must give the same bytes elsewhere.
#
#   test-pack.sh installed PREFIX WORK GENERATOR   with the package installed in PREFIX
#   test-pack.sh subdirectory WORK                 with this source tree as a subproject
#
# The environment names the tools of the calling build, as for test-consumer.sh: CXX,
# CMAKE_GENERATOR, ASSETS_CONSUMER_LAUNCHER, ASSETS_BUILD_TYPE.
set -euo pipefail

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
example_dir=$source_dir/examples/pack

Fail() { echo "test-pack: $*" >&2; exit 1; }

Arguments() { # generator
  arguments=(-G "$1" -DCMAKE_BUILD_TYPE="${ASSETS_BUILD_TYPE:-Release}" -DCMAKE_CXX_COMPILER="${CXX:-c++}")
  [ -n "${ASSETS_CONSUMER_LAUNCHER:-}" ] && arguments+=(-DCMAKE_CXX_COMPILER_LAUNCHER="$ASSETS_CONSUMER_LAUNCHER")
  return 0
}

Build() { # build dir
  cmake --build "$1" -j 2 >"$1.log" 2>&1 || { cat "$1.log"; Fail "the build of $1 failed"; }
}

Identity() { # file: inode and bytes; pack renames a new file into place, so a repack changes it
  echo "$(stat -c %i "$1") $(sha256sum <"$1")"
}

# Builds and compares each archive's identity with the last one: all "same", or all "changed".
ExpectAfterBuild() { # expectation, what was done
  Build "$build"
  local now=() index=0
  for archive in game.zip game.pak; do
    now+=("$(Identity "$build/$archive")")
    if [ "$1" = same ] && [ "${now[$index]}" != "${identity[$index]}" ]; then
      cat "$build.log"; Fail "$2: $archive was packed again"
    fi
    if [ "$1" = changed ] && [ "${now[$index]}" = "${identity[$index]}" ]; then
      cat "$build.log"; Fail "$2: $archive was not packed again"
    fi
    index=$((index + 1))
  done
  identity=("${now[@]}")
  echo "test-pack: $2: $1"
}

# What the game reads from both archives must be the file of the tree.
ExpectAsset() { # asset path, expected content (empty: the asset must be missing)
  for archive in game.zip game.pak; do
    if [ -z "$2" ]; then
      if "$build/game" "$build/$archive" "$1" >/dev/null 2>&1; then Fail "$1 is still in $archive"; fi
    else
      [ "$("$build/game" "$build/$archive" "$1")" = "$2" ] || Fail "$archive holds another $1"
    fi
  done
}

# The whole story over one generator; PREFIX_ARGUMENTS say where the library comes from.
Scenario() { # work, generator
  local work=$1
  rm -rf "$work" && mkdir -p "$work"
  cp -R "$example_dir/assets" "$work/assets"
  Arguments "$2"
  build=$work/build
  cmake -S "$example_dir" -B "$build" "${arguments[@]}" "${prefix_arguments[@]}" -DGAME_ASSETS="$work/assets" \
    >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; Fail "configure failed"; }
  Build "$build"
  [ -f "$build/game.zip" ] && [ -f "$build/game.pak" ] || Fail "the first build packed nothing"
  ExpectAsset Shaders/basic.vert "$(cat "$work/assets/Shaders/basic.vert")"
  identity=("$(Identity "$build/game.zip")" "$(Identity "$build/game.pak")")

  ExpectAfterBuild same "nothing changed"
  # Coarse file system clocks: let a second pass so that an edit is newer than the archives.
  sleep 1
  echo "// edited" >>"$work/assets/Shaders/Tests/colour.frag"
  ExpectAfterBuild changed "a file edited"
  ExpectAsset Shaders/Tests/colour.frag "$(cat "$work/assets/Shaders/Tests/colour.frag")"
  sleep 1
  echo "new" >"$work/assets/Shaders/Tests/new.frag"
  ExpectAfterBuild changed "a file added"
  ExpectAsset Shaders/Tests/new.frag new
  sleep 1
  mkdir -p "$work/assets/maps/north"
  echo "north" >"$work/assets/maps/north/map.txt"
  ExpectAfterBuild changed "a folder added"
  ExpectAsset maps/north/map.txt north
  sleep 1
  rm "$work/assets/data/levels.txt"
  ExpectAfterBuild changed "a file removed"
  ExpectAsset data/levels.txt ""
  ExpectAfterBuild same "nothing changed since"
}

# The same tree in another place, with other times and permissions, packs to the same bytes.
Reproducible() { # work, generator
  local work=$1 first=$1/build
  local again=$work/again
  rm -rf "$again" && mkdir -p "$again"
  cp -R "$work/assets" "$again/assets"
  find "$again/assets" -exec touch -d "2001-02-03 04:05:06" {} +
  chmod 0755 "$again/assets/Shaders/basic.vert"
  Arguments "$2"
  cmake -S "$example_dir" -B "$again/build" "${arguments[@]}" "${prefix_arguments[@]}" \
    -DGAME_ASSETS="$again/assets" >"$again/configure.log" 2>&1 || { cat "$again/configure.log"; Fail "configure failed"; }
  Build "$again/build"
  for archive in game.zip game.pak; do
    cmp "$first/$archive" "$again/build/$archive" || Fail "the same tree packed to other bytes in $archive"
  done
  echo "test-pack: the same tree elsewhere: the same bytes"
}

# As a subproject: the program is built, and runs from the build tree. Only the packing target
# is built (the program and the library under it), without Resource and ImageCache, which
# packing does not need: the rest is what the installed scenario shows.
SubdirectoryScenario() { # work
  local work=$1
  rm -rf "$work" && mkdir -p "$work"
  cp -R "$example_dir/assets" "$work/assets"
  Arguments "${CMAKE_GENERATOR:-Ninja}"
  build=$work/build
  cmake -S "$example_dir" -B "$build" "${arguments[@]}" -DASSETS_PACK_SOURCE_DIR="$source_dir" \
    -DASSETS_WITH_RESOURCES=OFF -DGAME_ASSETS="$work/assets" >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log"; Fail "configure failed"; }
  local program=$build/QorDraxelAssets/tools/draxel-assets
  Pack() { cmake --build "$build" -j 2 --target game-assets >"$build.log" 2>&1 || { cat "$build.log"; Fail "build failed"; }; }
  Pack
  [ -x "$program" ] || Fail "the subproject did not build draxel-assets"
  "$program" ls "$build/game.zip" | grep -qx "Shaders/basic.vert" || Fail "game.zip lacks Shaders/basic.vert"
  local first
  first=$(Identity "$build/game.zip")
  Pack
  [ "$(Identity "$build/game.zip")" = "$first" ] || Fail "packed again with nothing changed"
  sleep 1
  echo "new" >"$work/assets/Shaders/new.frag"
  Pack
  [ "$(Identity "$build/game.zip")" != "$first" ] || Fail "not packed again after a file was added"
  "$program" ls "$build/game.zip" | grep -qx "Shaders/new.frag" || Fail "game.zip lacks the new file"
  echo "test-pack: as a subproject, the built program packs, and packs again only after a change"
}

command=${1:-}
case "$command" in
  installed)
    prefix=$2 work=$3 generator=$4
    prefix_arguments=(-DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
    Scenario "$work" "$generator"
    Reproducible "$work" "$generator"
    ;;
  subdirectory)
    SubdirectoryScenario "$2"
    ;;
  *)
    echo "usage: test-pack.sh installed PREFIX WORK GENERATOR | subdirectory WORK" >&2
    exit 2
    ;;
esac
