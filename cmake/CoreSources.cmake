# The library's sources that need neither Qt nor boost filesystem: paths, volumes, archives,
# the writer and the mount table, with the host layer. The fuzz targets and the thread
# sanitizer build compile exactly these, instrumented, into their own programs.
get_filename_component(ASSETS_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(ASSETS_CORE_SOURCES
  ${ASSETS_ROOT}/host/HostPlatform.cpp
  ${ASSETS_ROOT}/host/QorFile.cpp
  ${ASSETS_ROOT}/host/QorDebug.cpp
  ${ASSETS_ROOT}/host/QorDraxelUtility.cpp
  ${ASSETS_ROOT}/src/Platform.cpp
  ${ASSETS_ROOT}/src/AssetPath.cpp
  ${ASSETS_ROOT}/src/Volume.cpp
  ${ASSETS_ROOT}/src/FileStream.cpp
  ${ASSETS_ROOT}/src/FileSystemVolume.cpp
  ${ASSETS_ROOT}/src/ArchiveVolume.cpp
  ${ASSETS_ROOT}/src/ArchiveWriter.cpp
  ${ASSETS_ROOT}/src/AssetLibrary.cpp)
set(ASSETS_CORE_INCLUDES ${ASSETS_ROOT}/include ${ASSETS_ROOT}/host ${ASSETS_ROOT}/src)
