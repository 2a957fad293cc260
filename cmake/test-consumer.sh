#!/usr/bin/env bash
# The package tests: install the built tree into a scratch prefix and build the consumer of
# examples/consumer against it, the way another project would.
#
#   test-consumer.sh install      BUILD-DIR PREFIX   install BUILD-DIR and check the installed tree
#   test-consumer.sh find-package PREFIX WORK        consumer through find_package(QorDraxelAssets)
#   test-consumer.sh pkg-config   PREFIX WORK        consumer through pkg-config QorDraxelAssets
#   test-consumer.sh subdirectory WORK               consumer through add_subdirectory(<source tree>)
#
# The environment names the tools of the calling build: CXX (compiler), CMAKE_GENERATOR,
# ASSETS_CONSUMER_LAUNCHER (compiler launcher, may be empty), ASSETS_CONSUMER_FLAGS (extra
# compile and link flags: the sanitizers of a sanitized build), ASSETS_VERSION (the version the
# package must carry) and ASSETS_BUILD_TYPE.
set -euo pipefail

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
consumer_dir=$source_dir/examples/consumer
asset_dir=$source_dir/examples/resources
asset=Shaders/basic.vert
flags=${ASSETS_CONSUMER_FLAGS:-}

Fail() { echo "test-consumer: $*" >&2; exit 1; }

# Runs the consumer on the example resources and compares its output with the file itself.
RunConsumer() { # program
  "$1" "$asset_dir" "$asset" >"$work/asset.out"
  cmp "$work/asset.out" "$asset_dir/$asset" || Fail "the consumer read other bytes than $asset"
  echo "test-consumer: $1 read $asset ($(wc -c <"$work/asset.out") bytes)"
}

# cmake arguments shared by both CMake builds of the consumer.
ConsumerArguments() {
  arguments=(-DCMAKE_BUILD_TYPE="${ASSETS_BUILD_TYPE:-Release}" -DCMAKE_CXX_COMPILER="${CXX:-c++}")
  [ -n "${ASSETS_CONSUMER_LAUNCHER:-}" ] && arguments+=(-DCMAKE_CXX_COMPILER_LAUNCHER="$ASSETS_CONSUMER_LAUNCHER")
  [ -n "$flags" ] && arguments+=(-DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags"
                                 -DCMAKE_SHARED_LINKER_FLAGS="$flags")
  return 0
}

# The one library directory under the prefix (lib, or lib/<multiarch> for a /usr-like layout).
LibraryDir() { # prefix
  local pc
  pc=$(find "$1" -name QorDraxelAssets.pc -path '*/pkgconfig/*' | head -n 1)
  [ -n "$pc" ] || Fail "no QorDraxelAssets.pc under $1"
  dirname "$(dirname "$pc")"
}

command=${1:-}
case "$command" in
  install)
    build=$2 prefix=$3
    rm -rf "$prefix"
    cmake --install "$build" --prefix "$prefix" >/dev/null
    libdir=$(LibraryDir "$prefix")
    for file in include/Assets/AssetLibrary.h include/Assets/Export.h include/QorDraxelHost/QorFile.h \
                include/QorDraxelHost/QorHostExport.h bin/draxel-assets; do
      [ -e "$prefix/$file" ] || Fail "not installed: $file"
    done
    [ -e "$libdir/cmake/QorDraxelAssets/QorDraxelAssetsConfig.cmake" ] || Fail "no CMake package"
    [ -e "$libdir/cmake/QorDraxelAssets/QorDraxelAssetsConfigVersion.cmake" ] || Fail "no package version"
    # Only exported headers are installed: no private header of src/ slips in.
    [ ! -e "$prefix/include/Assets/Check.h" ] && [ ! -e "$prefix/include/Assets/FileStream.h" ] ||
      Fail "a private header was installed"
    major=${ASSETS_VERSION%%.*}
    for library in QorDraxelAssets QorDraxelHost; do
      [ -f "$libdir/lib$library.so.$ASSETS_VERSION" ] || Fail "no lib$library.so.$ASSETS_VERSION"
      [ -L "$libdir/lib$library.so.$major" ] && [ -L "$libdir/lib$library.so" ] ||
        Fail "lib$library.so and lib$library.so.$major must link to lib$library.so.$ASSETS_VERSION"
      soname=$(readelf -d "$libdir/lib$library.so.$ASSETS_VERSION" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
      [ "$soname" = "lib$library.so.$major" ] || Fail "lib$library has the soname '$soname'"
    done
    # The installed program and libraries find their libraries from the prefix alone (their
    # run paths are relative to themselves).
    for binary in "$prefix/bin/draxel-assets" "$libdir/libQorDraxelAssets.so.$ASSETS_VERSION"; do
      if env -u LD_LIBRARY_PATH ldd "$binary" | grep -q 'not found'; then
        env -u LD_LIBRARY_PATH ldd "$binary"
        Fail "$binary does not find its libraries"
      fi
    done
    echo "test-consumer: installed $ASSETS_VERSION into $prefix"
    ;;
  find-package)
    prefix=$2 work=$3
    rm -rf "$work" && mkdir -p "$work"
    ConsumerArguments
    cmake -S "$consumer_dir" -B "$work/build" "${arguments[@]}" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >"$work/configure.log" || { cat "$work/configure.log"; exit 1; }
    grep -q "Found QorDraxelAssets $ASSETS_VERSION in $prefix/" "$work/configure.log" ||
      { cat "$work/configure.log"; Fail "find_package did not find version $ASSETS_VERSION in $prefix"; }
    cmake --build "$work/build" -j 2 >"$work/build.log" || { cat "$work/build.log"; exit 1; }
    RunConsumer "$work/build/consumer"
    ;;
  pkg-config)
    prefix=$2 work=$3
    rm -rf "$work" && mkdir -p "$work"
    libdir=$(LibraryDir "$prefix")
    export PKG_CONFIG_PATH=$libdir/pkgconfig${PKG_CONFIG_PATH:+:$PKG_CONFIG_PATH}
    version=$(pkg-config --modversion QorDraxelAssets)
    [ "$version" = "$ASSETS_VERSION" ] || Fail "pkg-config reports version $version"
    [ "$(pkg-config --variable=libdir QorDraxelAssets)" -ef "$libdir" ] || Fail "pkg-config's libdir is not $libdir"
    read -r -a cflags <<<"$(pkg-config --cflags QorDraxelAssets)"
    read -r -a libs <<<"$(pkg-config --libs QorDraxelAssets)"
    read -r -a extra <<<"$flags"
    # shellcheck disable=SC2086
    ${CXX:-c++} -std=c++17 "${extra[@]}" "${cflags[@]}" "$consumer_dir/main.cpp" -o "$work/consumer" \
      "${libs[@]}" -Wl,-rpath,"$libdir"
    RunConsumer "$work/consumer"
    ;;
  subdirectory)
    work=$2
    rm -rf "$work" && mkdir -p "$work"
    ConsumerArguments
    cmake -S "$consumer_dir" -B "$work/build" "${arguments[@]}" -DASSETS_CONSUMER_SOURCE_DIR="$source_dir" \
      >"$work/configure.log" || { cat "$work/configure.log"; exit 1; }
    cmake --build "$work/build" -j 2 >"$work/build.log" || { cat "$work/build.log"; exit 1; }
    # As a subproject the library builds neither its tests nor its program.
    [ ! -e "$work/build/QorDraxelAssets/tests" ] || Fail "the subproject built its tests"
    RunConsumer "$work/build/consumer"
    ;;
  *)
    echo "usage: test-consumer.sh install BUILD-DIR PREFIX | find-package PREFIX WORK | pkg-config PREFIX WORK | subdirectory WORK" >&2
    exit 2
    ;;
esac
