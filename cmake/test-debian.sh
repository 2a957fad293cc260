#!/usr/bin/env bash
# The test of the Debian packages: makes them with CPack from a built tree, checks what each holds
# and that its Depends names the package of every shared library its programs and libraries
# link, then extracts them into a scratch root and builds and runs the consumers against it
# (test-consumer.sh), as a user of the packages would.
#
#   test-debian.sh BUILD-DIR WORK
#
# The environment is test-consumer.sh's (CXX, CMAKE_GENERATOR, ASSETS_VERSION, ...).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$1 work=$2
version=${ASSETS_VERSION:?}
major=${version%%.*}

Fail() { echo "test-debian: $*" >&2; exit 1; }

rm -rf "$work" && mkdir -p "$work"
(cd "$build" && cpack -G DEB -B "$work/packages") >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; Fail "cpack failed"; }

declare -A packages=(
  [runtime]="libqordraxelassets$major"
  [dev]="libqordraxelassets-dev"
  [program]="draxel-assets")
declare -A files
for role in runtime dev program; do
  name=${packages[$role]}
  files[$role]=$(find "$work/packages" -maxdepth 1 -name "${name}_${version}_*.deb" | awk 'NR == 1')
  [ -n "${files[$role]}" ] || { ls "$work/packages"; Fail "no package $name $version"; }
  [ "$(dpkg-deb -f "${files[$role]}" Package)" = "$name" ] || Fail "${files[$role]} is not the package $name"
  dpkg-deb -c "${files[$role]}" | awk '{ print $6 }' | sed 's|^\./|/|' | grep -v '/$' | LC_ALL=C sort >"$work/$role.files"
done

# What each package holds, and what it must not.
Holds() { # role, paths...
  local role=$1; shift
  for path in "$@"; do
    grep -qx "$path" "$work/$role.files" || { cat "$work/$role.files"; Fail "${packages[$role]} lacks $path"; }
  done
}
HoldsNone() { # role, pattern
  if grep -E "$2" "$work/$1.files"; then Fail "${packages[$1]} holds files matching $2"; fi
}
for library in QorDraxelAssets QorDraxelHost; do
  Holds runtime "/usr/lib/lib$library.so.$version" "/usr/lib/lib$library.so.$major"
  Holds dev "/usr/lib/lib$library.so"
done
HoldsNone runtime '^/usr/(include|bin)/|\.so$|/cmake/|/pkgconfig/'
Holds dev /usr/include/Assets/AssetLibrary.h /usr/include/Assets/ImageCache.h /usr/include/QorDraxelHost/QorFile.h \
  /usr/lib/cmake/QorDraxelAssets/QorDraxelAssetsConfig.cmake /usr/lib/cmake/QorDraxelAssets/QorDraxelAssetsPack.cmake \
  /usr/lib/pkgconfig/QorDraxelAssets.pc /usr/lib/pkgconfig/QorDraxelAssetsResources.pc
HoldsNone dev '^/usr/bin/|\.so\.[0-9]'
Holds program /usr/bin/draxel-assets /usr/share/man/man1/draxel-assets.1 \
  /usr/share/bash-completion/completions/draxel-assets /usr/share/draxel-assets/resources/images/logo.png
HoldsNone program '^/usr/(include|lib)/'
# dpkg refuses two packages that hold one file.
shared=$(LC_ALL=C sort "$work/runtime.files" "$work/dev.files" "$work/program.files" | uniq -d)
[ -z "$shared" ] || Fail "files in two packages: $shared"
dpkg-deb -I "${files[runtime]}" shlibs >"$work/shlibs" || Fail "the runtime package has no shlibs file"
grep -q "^libQorDraxelAssets $major libqordraxelassets$major " "$work/shlibs" || { cat "$work/shlibs"; Fail "shlibs"; }

# Extracted: every shared library a package's binaries link is served by a package its Depends
# names (our own libraries by the runtime package, at this version).
for role in runtime dev program; do
  dpkg-deb -x "${files[$role]}" "$work/root"
done
for role in runtime program; do
  depends=$(dpkg-deb -f "${files[$role]}" Depends)
  echo "test-debian: ${packages[$role]} Depends: $depends"
  while IFS= read -r path; do
    { readelf -d "$work/root$path" 2>/dev/null || true; } | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'
  done <"$work/$role.files" | LC_ALL=C sort -u >"$work/$role.needed"
  [ -s "$work/$role.needed" ] || Fail "${packages[$role]} links no shared library"
  while IFS= read -r library; do
    case "$library" in
      libQorDraxel*)
        [ "$role" = runtime ] && continue # the package's own
        owner=libqordraxelassets$major ;;
      *)
        # Each pipe reads its input to the end: a reader that stops early may end the writer by
        # SIGPIPE, which pipefail and set -e would turn into a silent failure of the test.
        location=$(ldconfig -p | awk -v name="$library" '$1 == name && !found { print $NF; found = 1 }')
        [ -n "$location" ] || Fail "$library is not installed here"
        owner=$(dpkg -S "$(readlink -f "$location")" 2>/dev/null | awk -F: 'NR == 1 { print $1 }') ||
          owner=$(dpkg -S "$location" 2>/dev/null | awk -F: 'NR == 1 { print $1 }') ||
          Fail "no installed package holds $location"
        ;;
    esac
    tr ',|' '\n\n' <<<"$depends" | awk '{ print $1 }' | grep -qxF "$owner" || Fail "${packages[$role]} links $library of $owner, not in its Depends"
  done <"$work/$role.needed"
done
grep -qE "(^|, )libqordraxelassets$major \(= $version\)" <<<"$(dpkg-deb -f "${files[dev]}" Depends)" ||
  Fail "the -dev package does not depend on the runtime package of its version"

# The consumers against the extracted packages, the way their user builds them.
root=$work/root/usr
bash "$here/test-consumer.sh" find-package "$root" "$work/find-package"
bash "$here/test-consumer.sh" find-resources "$root" "$work/find-resources"
bash "$here/test-consumer.sh" pkg-config "$root" "$work/pkg-config"
bash "$here/test-consumer.sh" demo "$root"
echo "test-debian: ${packages[runtime]}, ${packages[dev]} and ${packages[program]} $version: contents, Depends and consumers"
