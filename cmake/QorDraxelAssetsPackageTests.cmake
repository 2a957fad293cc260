# Tests of the binary interface and of the package: the exported-symbol check with its self
# test; the consumers of examples/consumer built against an installed prefix (find_package with
# and without the component Resources, the core where Qt 6 cannot be found; pkg-config) and
# through add_subdirectory() of this source tree; the installed demo; the game of examples/pack,
# whose build packs its assets (draxel_assets_add_pack) with the installed program, with Ninja
# and with Makefiles, and with the program built in a subproject; the Debian packages.
find_program(ASSETS_BASH bash)
if(NOT ASSETS_BASH)
  message(FATAL_ERROR "bash is needed by the package tests")
endif()

add_test(NAME exports.Check
  COMMAND "${ASSETS_BASH}" "${PROJECT_SOURCE_DIR}/cmake/check-exports.sh"
          $<TARGET_FILE:QorDraxelAssets> $<TARGET_FILE:QorDraxelHost>)
add_test(NAME exports.SelfTest
  COMMAND "${ASSETS_BASH}" "${PROJECT_SOURCE_DIR}/cmake/check-exports.sh" --self-test
          $<TARGET_FILE:QorDraxelAssets> $<TARGET_FILE:QorDraxelHost>)

if(NOT ASSETS_INSTALL OR NOT TARGET draxel-assets)
  return()
endif()

set(ASSETS_PACKAGE_TEST_DIR "${PROJECT_BINARY_DIR}/package-test")
set(ASSETS_CONSUMER_DRIVER "${PROJECT_SOURCE_DIR}/cmake/test-consumer.sh")
set(ASSETS_CONSUMER_FLAGS "")
if(ASSETS_SANITIZE)
  set(ASSETS_CONSUMER_FLAGS "-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer")
endif()
set(ASSETS_CONSUMER_ENVIRONMENT
  "CXX=${CMAKE_CXX_COMPILER}"
  "CMAKE_GENERATOR=${CMAKE_GENERATOR}"
  "ASSETS_CONSUMER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}"
  "ASSETS_CONSUMER_FLAGS=${ASSETS_CONSUMER_FLAGS}"
  "ASSETS_VERSION=${PROJECT_VERSION}"
  "ASSETS_BUILD_TYPE=${CMAKE_BUILD_TYPE}")

add_test(NAME package.Install
  COMMAND "${ASSETS_BASH}" "${ASSETS_CONSUMER_DRIVER}" install "${PROJECT_BINARY_DIR}" "${ASSETS_PACKAGE_TEST_DIR}/prefix")
set_tests_properties(package.Install PROPERTIES FIXTURES_SETUP AssetsPackage)
set(ASSETS_PACKAGE_TESTS)
foreach(test IN ITEMS FindPackage:find-package FindResources:find-resources PkgConfig:pkg-config)
  string(REPLACE ":" ";" test "${test}")
  list(GET test 0 name)
  list(GET test 1 mode)
  add_test(NAME package.${name}
    COMMAND "${ASSETS_BASH}" "${ASSETS_CONSUMER_DRIVER}" ${mode}
            "${ASSETS_PACKAGE_TEST_DIR}/prefix" "${ASSETS_PACKAGE_TEST_DIR}/${mode}")
  list(APPEND ASSETS_PACKAGE_TESTS package.${name})
endforeach()
add_test(NAME package.Demo COMMAND "${ASSETS_BASH}" "${ASSETS_CONSUMER_DRIVER}" demo "${ASSETS_PACKAGE_TEST_DIR}/prefix")
list(APPEND ASSETS_PACKAGE_TESTS package.Demo)
set_tests_properties(${ASSETS_PACKAGE_TESTS} PROPERTIES FIXTURES_REQUIRED AssetsPackage)
list(APPEND ASSETS_PACKAGE_TESTS package.Install)
add_test(NAME package.Subdirectory
  COMMAND "${ASSETS_BASH}" "${ASSETS_CONSUMER_DRIVER}" subdirectory "${ASSETS_PACKAGE_TEST_DIR}/subdirectory")
list(APPEND ASSETS_PACKAGE_TESTS package.Subdirectory)

# Build-time packing and the Debian packages: plain builds only (their programs and scripts
# are not what the sanitizers look at, and each builds another project or two).
if(NOT ASSETS_SANITIZE)
  set(ASSETS_PACK_DRIVER "${PROJECT_SOURCE_DIR}/cmake/test-pack.sh")
  add_test(NAME package.PackNinja
    COMMAND "${ASSETS_BASH}" "${ASSETS_PACK_DRIVER}" installed "${ASSETS_PACKAGE_TEST_DIR}/prefix"
            "${ASSETS_PACKAGE_TEST_DIR}/pack-ninja" Ninja)
  add_test(NAME package.PackMakefiles
    COMMAND "${ASSETS_BASH}" "${ASSETS_PACK_DRIVER}" installed "${ASSETS_PACKAGE_TEST_DIR}/prefix"
            "${ASSETS_PACKAGE_TEST_DIR}/pack-makefiles" "Unix Makefiles")
  set_tests_properties(package.PackNinja package.PackMakefiles PROPERTIES FIXTURES_REQUIRED AssetsPackage)
  add_test(NAME package.PackSubdirectory
    COMMAND "${ASSETS_BASH}" "${ASSETS_PACK_DRIVER}" subdirectory "${ASSETS_PACKAGE_TEST_DIR}/pack-subdirectory")
  add_test(NAME package.Debian
    COMMAND "${ASSETS_BASH}" "${PROJECT_SOURCE_DIR}/cmake/test-debian.sh" "${PROJECT_BINARY_DIR}"
            "${ASSETS_PACKAGE_TEST_DIR}/debian")
  list(APPEND ASSETS_PACKAGE_TESTS package.PackNinja package.PackMakefiles package.PackSubdirectory package.Debian)
endif()
set_tests_properties(${ASSETS_PACKAGE_TESTS} PROPERTIES
  ENVIRONMENT "${ASSETS_CONSUMER_ENVIRONMENT}"
  TIMEOUT 600)
# Each of these builds the library again as a subproject (and the program, for packing).
set_tests_properties(package.Subdirectory PROPERTIES TIMEOUT 1200)
if(NOT ASSETS_SANITIZE)
  set_tests_properties(package.PackSubdirectory PROPERTIES TIMEOUT 1200)
endif()
