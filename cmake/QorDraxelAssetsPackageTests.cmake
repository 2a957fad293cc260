# Tests of the binary interface and of the package: the exported-symbol check with its self
# test, and the consumer of examples/consumer built against an installed prefix (find_package
# and pkg-config) and through add_subdirectory() of this source tree.
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
add_test(NAME package.FindPackage
  COMMAND "${ASSETS_BASH}" "${ASSETS_CONSUMER_DRIVER}" find-package
          "${ASSETS_PACKAGE_TEST_DIR}/prefix" "${ASSETS_PACKAGE_TEST_DIR}/find-package")
add_test(NAME package.PkgConfig
  COMMAND "${ASSETS_BASH}" "${ASSETS_CONSUMER_DRIVER}" pkg-config
          "${ASSETS_PACKAGE_TEST_DIR}/prefix" "${ASSETS_PACKAGE_TEST_DIR}/pkg-config")
set_tests_properties(package.FindPackage package.PkgConfig PROPERTIES FIXTURES_REQUIRED AssetsPackage)
add_test(NAME package.Subdirectory
  COMMAND "${ASSETS_BASH}" "${ASSETS_CONSUMER_DRIVER}" subdirectory "${ASSETS_PACKAGE_TEST_DIR}/subdirectory")
set_tests_properties(package.Install package.FindPackage package.PkgConfig package.Subdirectory PROPERTIES
  ENVIRONMENT "${ASSETS_CONSUMER_ENVIRONMENT}"
  TIMEOUT 600)
