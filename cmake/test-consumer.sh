#!/usr/bin/env bash
# The package tests: install the built tree into a scratch prefix and build the consumers of
# examples/consumer against it, the way another project would.
#
#   test-consumer.sh install      BUILD-DIR PREFIX   install BUILD-DIR and check the installed tree
#   test-consumer.sh find-package PREFIX WORK        find_package(QorDraxelAssets) where Qt 6 cannot
#                                                    be found: the core consumer builds, the
#                                                    component Resources is refused, clearly
#   test-consumer.sh find-resources PREFIX WORK      find_package(QorDraxelAssets COMPONENTS Resources):
#                                                    both consumers
#   test-consumer.sh pkg-config   PREFIX WORK        pkg-config QorDraxelAssets where Qt 6's files
#                                                    are not seen, then QorDraxelAssetsResources
#   test-consumer.sh subdirectory WORK               both consumers through add_subdirectory(<source tree>)
#   test-consumer.sh demo         PREFIX             the installed demo runs over its installed tree
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

# Runs resources-consumer over the demo's tree installed under PREFIX.
RunResourcesConsumer() { # program, prefix
  local out
  out=$("$1" "$2/share/draxel-assets/resources" "$work/temporary") || Fail "$1 failed"
  grep -q '^logo: [1-9][0-9]* x [1-9][0-9]*$' <<<"$out" || { echo "$out"; Fail "$1 decoded no logo"; }
  echo "test-consumer: $1: $(grep '^logo:' <<<"$out")"
}

# cmake arguments shared by the CMake builds of the consumers.
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
  pc=$(find "$1" -name QorDraxelAssets.pc -path '*/pkgconfig/*' | awk 'NR == 1')
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
    [ -e "$libdir/cmake/QorDraxelAssets/QorDraxelAssetsPack.cmake" ] || Fail "no draxel_assets_add_pack"
    [ -e "$libdir/pkgconfig/QorDraxelAssetsResources.pc" ] || Fail "no QorDraxelAssetsResources.pc"
    # Qt is in no interface of the installed targets (the library's own link to it is no
    # consumer's business): only the component Resources brings it.
    if grep -E 'INTERFACE_[A-Z_]*".*Qt6|Qt6.*_DIR' "$libdir"/cmake/QorDraxelAssets/QorDraxelAssetsTargets*.cmake ||
       grep -q Qt6 "$libdir/pkgconfig/QorDraxelAssets.pc"; then
      Fail "the core's package files name Qt"
    fi
    for file in share/man/man1/draxel-assets.1 share/bash-completion/completions/draxel-assets \
                share/draxel-assets/resources/Shaders/basic.vert share/draxel-assets/resources/images/logo.png; do
      [ -e "$prefix/$file" ] || Fail "not installed: $file"
    done
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
    # Qt 6 cannot be found: the core needs none of it.
    arguments+=(-DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON
                --no-warn-unused-cli)
    cmake -S "$consumer_dir" -B "$work/build" "${arguments[@]}" >"$work/configure.log" ||
      { cat "$work/configure.log"; exit 1; }
    grep -q "Found QorDraxelAssets $ASSETS_VERSION in $prefix/" "$work/configure.log" ||
      { cat "$work/configure.log"; Fail "find_package did not find version $ASSETS_VERSION in $prefix"; }
    cmake --build "$work/build" -j 2 >"$work/build.log" || { cat "$work/build.log"; exit 1; }
    RunConsumer "$work/build/consumer"
    # Asking for Resources there fails at configure time, saying what is missing.
    if cmake -S "$consumer_dir" -B "$work/resources" "${arguments[@]}" -DCONSUMER_WITH_RESOURCES=ON \
         >"$work/resources.log" 2>&1; then
      Fail "the component Resources was found without Qt 6"
    fi
    grep -q "component Resources needs Qt 6" "$work/resources.log" ||
      { cat "$work/resources.log"; Fail "the missing Resources component is not explained"; }
    echo "test-consumer: without Qt 6 the component Resources is refused with its reason"
    ;;
  find-resources)
    prefix=$2 work=$3
    rm -rf "$work" && mkdir -p "$work"
    ConsumerArguments
    cmake -S "$consumer_dir" -B "$work/build" "${arguments[@]}" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCONSUMER_WITH_RESOURCES=ON >"$work/configure.log" ||
      { cat "$work/configure.log"; exit 1; }
    cmake --build "$work/build" -j 2 >"$work/build.log" || { cat "$work/build.log"; exit 1; }
    RunConsumer "$work/build/consumer"
    RunResourcesConsumer "$work/build/resources-consumer" "$prefix"
    ;;
  demo)
    prefix=$2
    out=$(env -u LD_LIBRARY_PATH "$prefix/bin/draxel-assets" demo) || Fail "the installed demo failed"
    grep -qF "$(cd "$prefix" && pwd -P)/share/draxel-assets/resources and shows" <<<"$out" ||
      { echo "$out" | head -n 5; Fail "the installed demo did not run over its installed tree"; }
    echo "test-consumer: the installed demo runs over $prefix/share/draxel-assets/resources"
    ;;
  pkg-config)
    prefix=$2 work=$3
    rm -rf "$work" && mkdir -p "$work"
    libdir=$(LibraryDir "$prefix")
    export PKG_CONFIG_PATH=$libdir/pkgconfig${PKG_CONFIG_PATH:+:$PKG_CONFIG_PATH}
    # Only the prefix's files are seen, not Qt 6's: the core needs none of them, the resources do.
    export PKG_CONFIG_LIBDIR=$libdir/pkgconfig
    if pkg-config --exists QorDraxelAssetsResources; then Fail "QorDraxelAssetsResources was found without Qt 6"; fi
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
    unset PKG_CONFIG_LIBDIR
    read -r -a cflags <<<"$(pkg-config --cflags QorDraxelAssetsResources)"
    read -r -a libs <<<"$(pkg-config --libs QorDraxelAssetsResources)"
    ${CXX:-c++} -std=c++17 -fPIC "${extra[@]}" "${cflags[@]}" "$consumer_dir/resources.cpp" -o "$work/resources-consumer" \
      "${libs[@]}" -Wl,-rpath,"$libdir"
    RunResourcesConsumer "$work/resources-consumer" "$(dirname "$libdir")"
    ;;
  subdirectory)
    work=$2
    rm -rf "$work" && mkdir -p "$work"
    ConsumerArguments
    cmake -S "$consumer_dir" -B "$work/build" "${arguments[@]}" -DASSETS_CONSUMER_SOURCE_DIR="$source_dir" \
      -DCONSUMER_WITH_RESOURCES=ON >"$work/configure.log" || { cat "$work/configure.log"; exit 1; }
    cmake --build "$work/build" -j 2 >"$work/build.log" || { cat "$work/build.log"; exit 1; }
    # As a subproject the library builds neither its tests nor its program.
    [ ! -e "$work/build/QorDraxelAssets/tests" ] || Fail "the subproject built its tests"
    RunConsumer "$work/build/consumer"
    # QorDraxelAssets::Resources is the same name here; without the program there is no
    # installed tree to run it over.
    [ -x "$work/build/resources-consumer" ] || Fail "resources-consumer was not built"
    ;;
  *)
    echo "usage: test-consumer.sh install BUILD-DIR PREFIX | find-package PREFIX WORK | find-resources PREFIX WORK |" \
         "pkg-config PREFIX WORK | subdirectory WORK | demo PREFIX" >&2
    exit 2
    ;;
esac
