#!/usr/bin/env bash
# Set-up, build and run on Debian 12.
#   bash build.sh run    installs what is missing, builds, runs the demo
#   bash build.sh test   installs what is missing, builds, runs the whole test suite
#                        (plain, then under AddressSanitizer and UndefinedBehaviorSanitizer,
#                        the core cross-built for Windows x64 with its tests under Wine, the
#                        thread test under ThreadSanitizer, and each fuzz target ~30 s)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${ASSETS_BUILD_DIR:-$here/build}
jobs=${ASSETS_JOBS:-$(nproc)}

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format clang-tidy pkg-config ccache
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libboost-filesystem-dev libboost-iostreams-dev zlib1g-dev
  libzip-dev libphysfs-dev libcli11-dev nlohmann-json3-dev
  zip unzip python3 libarchive-tools p7zip-full fonts-dejavu-core dpkg-dev
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest wine64 wine
)

install_missing() {
  local missing=()
  for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  echo "installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

configure_and_build() { # dir, extra cmake arguments...
  local dir=$1; shift
  local launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S "$here" -B "$dir" -G Ninja "${launcher[@]}" -DASSETS_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

# The house style: every C++ source as .clang-format lays it out, and .clang-tidy's checks over
# the library's sources (with the compile commands of the build in dir).
check_style() { # dir
  local sources=()
  mapfile -t sources < <(cd "$here" && find include src host tools tests testing bench fuzz examples \
    -path tests/corpus -prune -o \( -name '*.cpp' -o -name '*.h' \) -print | sort)
  if ! (cd "$here" && clang-format --dry-run --Werror "${sources[@]}"); then
    echo "clang-format: the files above are not laid out as .clang-format says (clang-format -i fixes them)" >&2
    return 1
  fi
  local log=$1/clang-tidy.log
  if ! run-clang-tidy -p "$1" -quiet -j "$jobs" "$here/src/.*\\.cpp" >"$log" 2>&1; then
    grep -E "(warning|error):" "$log" | grep -v "warnings generated" >&2 || cat "$log" >&2
    echo "clang-tidy: findings in src/ (whole log: $log)" >&2
    return 1
  fi
}

run_suite() { # dir
  ctest --test-dir "$1" --output-on-failure -j "$jobs"
}

command=${1:-run}
case "$command" in
  run)
    install_missing
    configure_and_build "$build/release" -DCMAKE_BUILD_TYPE=Release
    "$build/release/tools/draxel-assets" demo
    ;;
  test)
    install_missing
    # The benchmarks are built (not run) so that they keep compiling; bench/compare runs them.
    configure_and_build "$build/dev" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DASSETS_BUILD_BENCH=ON
    check_style "$build/dev"
    run_suite "$build/dev"
    configure_and_build "$build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DASSETS_SANITIZE=ON
    ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1} \
    UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
      run_suite "$build/sanitize"
    # The core and draxel-assets for Windows x64 (cmake/MinGW-w64.cmake), with the core's tests
    # and the program against the native one under Wine.
    configure_and_build "$build/mingw" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/MinGW-w64.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DASSETS_NATIVE_TOOL="$build/dev/tools/draxel-assets"
    run_suite "$build/mingw"
    # The thread test under ThreadSanitizer: a build of just the core and that test.
    local_launcher=()
    command -v ccache >/dev/null && local_launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$here/tests/threads" -B "$build/threads" -G Ninja "${local_launcher[@]}" >/dev/null
    cmake --build "$build/threads" -j "$jobs"
    run_suite "$build/threads"
    # Each fuzz target for a short while from its seed corpus (fuzz/run runs them longer).
    FUZZ_BUILD_DIR="$build/fuzz" ASSETS_JOBS="$jobs" bash "$here/fuzz/run" "${ASSETS_FUZZ_SECONDS:-30}"
    ;;
  *)
    echo "usage: bash build.sh [run|test]" >&2
    exit 2
    ;;
esac
