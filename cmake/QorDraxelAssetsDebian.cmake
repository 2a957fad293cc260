# Debian packages of the install components, made by `cpack -G DEB` in the build folder:
#
#   libqordraxelassets<major>  Runtime      the two shared libraries (their sonames carry <major>)
#   libqordraxelassets-dev     Development  headers, namelinks, CMake package, pkg-config files
#   draxel-assets              Program      the program, its man page, bash completion, demo tree
#
# Each package's Depends is worked out by dpkg-shlibdeps (package dpkg-dev) from the shared
# libraries its files link, plus the packages of this set it needs; the runtime package carries a
# shlibs file, so that packages built against it depend on it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qordraxelassets)
set(CPACK_PACKAGE_VENDOR "Qor.Draxel")
set(CPACK_PACKAGE_CONTACT "Qor.Draxel.Assets developers <assets@qor-draxel.invalid>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "read-only virtual tree of assets over directories and ZIP archives")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/packages")

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Runtime Development Program)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The program's package links the libraries of the runtime package, which dpkg-shlibdeps finds in
# the build tree (their Depends entry comes from the component dependency below).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${PROJECT_BINARY_DIR}")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME "libqordraxelassets${PROJECT_VERSION_MAJOR}")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
string(CONCAT CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "read-only virtual tree of assets over directories and ZIP archives\n"
  "Qor.Draxel.Assets mounts directories and ZIP archives (plain or XOR-scrambled) at chosen points\n"
  "of one tree with chosen priorities, and keeps a graphics application's resource directories:\n"
  "fonts, image lookup and an image cache. This package holds the shared libraries.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libqordraxelassets-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
# The headers include boost's; Resource and ImageCache also Qt's (the CMake component Resources).
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libboost-dev (>= ${ASSETS_BOOST_MINIMUM})")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_RECOMMENDS "draxel-assets (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SUGGESTS "qt6-base-dev")
string(CONCAT CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
  "development files of Qor.Draxel.Assets\n"
  "Headers, the CMake package QorDraxelAssets (with the component Resources for Resource and\n"
  "ImageCache, and draxel_assets_add_pack to pack assets at build time) and the pkg-config files\n"
  "QorDraxelAssets and QorDraxelAssetsResources.")

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME draxel-assets)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION utils)
string(CONCAT CPACK_COMPONENT_PROGRAM_DESCRIPTION
  "pack, list, check, extract and mount asset archives of Qor.Draxel.Assets\n"
  "draxel-assets writes stored ZIP archives, plain or scrambled, checks and lists them, extracts\n"
  "them safely, shows the merged tree of mounted directories and archives, watches it for changes\n"
  "and gives a guided tour of the library (draxel-assets demo).")

include(CPack)
cpack_add_component(Runtime DISPLAY_NAME "Shared libraries")
cpack_add_component(Development DISPLAY_NAME "Development files" DEPENDS Runtime)
cpack_add_component(Program DISPLAY_NAME "draxel-assets" DEPENDS Runtime)
