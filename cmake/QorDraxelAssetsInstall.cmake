# Install rules: the two shared libraries, their headers, the draxel-assets program with its man
# page, bash completion and demo tree, the CMake package (find_package(QorDraxelAssets), with the
# component Resources and draxel_assets_add_pack) and the pkg-config files QorDraxelAssets.pc and
# QorDraxelAssetsResources.pc; then the Debian packages (cmake/QorDraxelAssetsDebian.cmake).
#
# Three install components, one Debian package each: Runtime (the shared libraries), Development
# (headers, namelinks, CMake and pkg-config files) and Program (draxel-assets and its files).
#
# The installed tree is relocatable: the package files and the pkg-config file locate the
# prefix from their own place, and the libraries and the program find their libraries through
# a $ORIGIN-relative run path, so `cmake --install <build> --prefix <anywhere>` works.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ASSETS_PACKAGE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/QorDraxelAssets")
set(ASSETS_BOOST_MINIMUM 1.74)

# The include directories match the targets' INSTALL_INTERFACE: <prefix>/include for
# <Assets/...>, and <prefix>/include/QorDraxelHost for the host headers (<QorFile.h>, ...).
set(ASSETS_HOST_HEADERS QorFile.h QorDebug.h QorDraxelUtility.h QorHostExport.h)
list(TRANSFORM ASSETS_HOST_HEADERS PREPEND "${PROJECT_SOURCE_DIR}/host/")

set_target_properties(QorDraxelHost QorDraxelAssets PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS QorDraxelHost QorDraxelAssets
  EXPORT QorDraxelAssetsTargets
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT Runtime
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT Runtime NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT Development)
install(DIRECTORY "${PROJECT_SOURCE_DIR}/include/Assets" DESTINATION include COMPONENT Development FILES_MATCHING PATTERN "*.h")
install(FILES ${ASSETS_HOST_HEADERS} DESTINATION include/QorDraxelHost COMPONENT Development)

if(TARGET draxel-assets)
  file(RELATIVE_PATH ASSETS_BIN_TO_LIB "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${CMAKE_INSTALL_LIBDIR}")
  set_target_properties(draxel-assets PROPERTIES INSTALL_RPATH "$ORIGIN/${ASSETS_BIN_TO_LIB}")
  install(TARGETS draxel-assets RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT Program)
  install(FILES "${PROJECT_SOURCE_DIR}/tools/draxel-assets.1" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1"
    COMPONENT Program)
  install(FILES "${PROJECT_SOURCE_DIR}/tools/draxel-assets.bash-completion"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/bash-completion/completions" RENAME draxel-assets
    COMPONENT Program)
  # The demo's tree, where the program looks for it from its own place (tools/DemoCommand.cpp).
  if(TARGET demo-resources)
    install(DIRECTORY "${ASSETS_DEMO_ROOT}/" DESTINATION "${ASSETS_DEMO_INSTALL_DIR}" COMPONENT Program)
  endif()
endif()

install(EXPORT QorDraxelAssetsTargets
  NAMESPACE QorDraxelAssets::
  DESTINATION "${ASSETS_PACKAGE_DIR}"
  COMPONENT Development)
configure_package_config_file("${PROJECT_SOURCE_DIR}/cmake/QorDraxelAssetsConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/package/QorDraxelAssetsConfig.cmake"
  INSTALL_DESTINATION "${ASSETS_PACKAGE_DIR}")
# The major number is the ABI number (the SOVERSION): a consumer built against 0.x runs with
# any later 0.y, and the major number is raised on every break of the binary interface.
write_basic_package_version_file("${PROJECT_BINARY_DIR}/package/QorDraxelAssetsConfigVersion.cmake"
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  "${PROJECT_BINARY_DIR}/package/QorDraxelAssetsConfig.cmake"
  "${PROJECT_BINARY_DIR}/package/QorDraxelAssetsConfigVersion.cmake"
  "${PROJECT_SOURCE_DIR}/cmake/QorDraxelAssetsPack.cmake"
  DESTINATION "${ASSETS_PACKAGE_DIR}"
  COMPONENT Development)

# pkg-config: the prefix is found from the .pc file's own directory unless the library
# directory is absolute.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(ASSETS_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(ASSETS_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
  set(ASSETS_PC_INCLUDEDIR "${CMAKE_INSTALL_PREFIX}/include")
else()
  file(RELATIVE_PATH ASSETS_PC_UP "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
  string(REGEX REPLACE "/$" "" ASSETS_PC_UP "${ASSETS_PC_UP}")
  set(ASSETS_PC_PREFIX "\${pcfiledir}/${ASSETS_PC_UP}")
  set(ASSETS_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(ASSETS_PC_INCLUDEDIR "\${prefix}/include")
endif()
# One file for the core (no Qt), one for the resources (the core and Qt 6).
configure_file("${PROJECT_SOURCE_DIR}/cmake/QorDraxelAssets.pc.in" "${PROJECT_BINARY_DIR}/package/QorDraxelAssets.pc" @ONLY)
configure_file("${PROJECT_SOURCE_DIR}/cmake/QorDraxelAssetsResources.pc.in"
  "${PROJECT_BINARY_DIR}/package/QorDraxelAssetsResources.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/package/QorDraxelAssets.pc" "${PROJECT_BINARY_DIR}/package/QorDraxelAssetsResources.pc"
  DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig"
  COMPONENT Development)

install(FILES "${PROJECT_SOURCE_DIR}/README.md" "${PROJECT_SOURCE_DIR}/CHANGELOG.md" DESTINATION "${CMAKE_INSTALL_DOCDIR}" COMPONENT Development)

include("${PROJECT_SOURCE_DIR}/cmake/QorDraxelAssetsDebian.cmake")
