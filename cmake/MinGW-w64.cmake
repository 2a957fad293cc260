# Cross build for Windows x64 with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix,
# libz-mingw-w64-dev); programs and tests run under Wine. Debian ships no Windows build of Qt
# or boost.filesystem, so the library is built without Resource and ImageCache
# (ASSETS_WITH_RESOURCES defaults to OFF in a cross build). Use:
#   cmake -S . -B build/mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/MinGW-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ASSETS_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ASSETS_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ASSETS_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ASSETS_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ASSETS_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config sees the target's packages only, never the build machine's (its libzip is Linux's).
set(ENV{PKG_CONFIG_LIBDIR} /usr/${ASSETS_MINGW_TRIPLE}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Programs built here run under Wine: ctest and the build's own steps use it as the emulator.
find_program(ASSETS_WINE NAMES wine wine64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ASSETS_WINE})

# The header-only libraries of the build machine (boost, CLI11, nlohmann/json) are used as they are. They
# are staged one by one: adding /usr/include itself would put Linux's C headers before the
# cross compiler's own.
set(ASSETS_STAGED_HEADERS ${CMAKE_BINARY_DIR}/staged-headers)
foreach(header IN ITEMS boost CLI nlohmann)
  if(NOT EXISTS ${ASSETS_STAGED_HEADERS}/${header})
    file(MAKE_DIRECTORY ${ASSETS_STAGED_HEADERS})
    file(CREATE_LINK /usr/include/${header} ${ASSETS_STAGED_HEADERS}/${header} SYMBOLIC)
  endif()
endforeach()
set(Boost_INCLUDE_DIR ${ASSETS_STAGED_HEADERS} CACHE PATH "boost's headers (staged from the build machine)")
set(Boost_NO_BOOST_CMAKE ON)
set(CLI11_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw CACHE PATH "CLI11's package (header-only, staged)")
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw CACHE PATH "nlohmann/json's package (header-only, staged)")

# The compiler's runtime DLLs, and zlib's, go beside the programs (see CMakeLists.txt).
set(ASSETS_RUNTIME_DLLS)
foreach(dll IN ITEMS libstdc++-6.dll libgcc_s_seh-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  list(APPEND ASSETS_RUNTIME_DLLS ${path})
endforeach()
list(APPEND ASSETS_RUNTIME_DLLS
  /usr/${ASSETS_MINGW_TRIPLE}/lib/libwinpthread-1.dll
  /usr/${ASSETS_MINGW_TRIPLE}/lib/zlib1.dll)
