# The one list of the library's sources.
#   ASSETS_HOST_SOURCES      the host layer (stand-ins for QorFile, QorDebug, Qor.Draxel.Utility)
#   ASSETS_LIBRARY_SOURCES   paths, volumes, archives, the writer, the mount table and its
#                            watcher: neither Qt nor boost filesystem
#   ASSETS_RESOURCE_SOURCES  resources and the image cache (Qt, boost filesystem)
#   ASSETS_CORE_SOURCES      host + library: what the fuzz targets and the thread sanitizer
#                            build compile, instrumented, into their own programs
get_filename_component(ASSETS_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(ASSETS_HOST_SOURCES
  ${ASSETS_ROOT}/host/HostPlatform.cpp
  ${ASSETS_ROOT}/host/QorFile.cpp
  ${ASSETS_ROOT}/host/QorDebug.cpp
  ${ASSETS_ROOT}/host/QorDraxelUtility.cpp)
set(ASSETS_LIBRARY_SOURCES
  ${ASSETS_ROOT}/src/Platform.cpp
  ${ASSETS_ROOT}/src/AssetPath.cpp
  ${ASSETS_ROOT}/src/Volume.cpp
  ${ASSETS_ROOT}/src/FileStream.cpp
  ${ASSETS_ROOT}/src/FileSystemVolume.cpp
  ${ASSETS_ROOT}/src/IndexedDirectoryVolume.cpp
  ${ASSETS_ROOT}/src/IndexedTree.cpp
  ${ASSETS_ROOT}/src/ArchiveDirectory.cpp
  ${ASSETS_ROOT}/src/ArchiveDiagnostics.cpp
  ${ASSETS_ROOT}/src/ArchiveDiagnosticsKinds.cpp
  ${ASSETS_ROOT}/src/ArchiveDiagnosticsWalk.cpp
  ${ASSETS_ROOT}/src/ArchiveFindings.cpp
  ${ASSETS_ROOT}/src/ArchiveVolume.cpp
  ${ASSETS_ROOT}/src/ArchiveVolumeListing.cpp
  ${ASSETS_ROOT}/src/ArchiveVolumeRead.cpp
  ${ASSETS_ROOT}/src/ArchiveVolumeBatch.cpp
  ${ASSETS_ROOT}/src/ArchiveWriter.cpp
  ${ASSETS_ROOT}/src/AssetLibrary.cpp
  ${ASSETS_ROOT}/src/AssetLibraryListing.cpp
  ${ASSETS_ROOT}/src/AssetWatcher.cpp
  ${ASSETS_ROOT}/src/AssetWatcherScan.cpp
  ${ASSETS_ROOT}/src/WatchNotifier.cpp
  ${ASSETS_ROOT}/src/InotifyNotifier.cpp
  ${ASSETS_ROOT}/src/NotifierHub.cpp
  ${ASSETS_ROOT}/src/DirectoryChangeNotifier.cpp)
set(ASSETS_RESOURCE_SOURCES
  ${ASSETS_ROOT}/src/Resource.cpp
  ${ASSETS_ROOT}/src/ImageCache.cpp)
set(ASSETS_CORE_SOURCES ${ASSETS_HOST_SOURCES} ${ASSETS_LIBRARY_SOURCES})
set(ASSETS_CORE_INCLUDES ${ASSETS_ROOT}/include ${ASSETS_ROOT}/host ${ASSETS_ROOT}/src)
