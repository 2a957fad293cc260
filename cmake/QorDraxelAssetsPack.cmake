# draxel_assets_add_pack: a game's build turns an asset folder into an archive.
#
#   draxel_assets_add_pack(<name> OUTPUT <archive> DIRECTORY <dir>
#                          [KEY <text> | KEY_FILE <file>] [TRAILER] [PLAIN])
#
# Adds the target <name> (built by default) that runs `draxel-assets pack` on <dir> and writes
# <archive>. The program writes a depfile naming every file it packed and every folder it
# walked, so the build repacks exactly when a file below <dir> is added, changed or removed
# (a folder's time changes when an entry is added to it or removed from it) and does nothing
# otherwise. The archive is the same bytes for the same tree on any machine and any day:
# entries are in byte order of their names, with fixed times and no permission bits.
#
#   OUTPUT     the archive; a relative path is below the current binary folder. It must not lie
#              below <dir> (the archive would be a change to the folder it is packed from).
#   DIRECTORY  the folder whose content goes to the archive's root; relative to the current
#              source folder.
#   KEY, KEY_FILE  scramble with this key (text, or the bytes of a file, relative to the current
#              source folder; the archive is repacked when the file changes). The archive's name
#              then must not end in zip; without a key it must (draxel-assets' name rule).
#   TRAILER    append the key (32 bytes), so that the archive carries it.
#   PLAIN      a plain ZIP under any name (read back with --plain); no key.
#
# The program is the installed draxel-assets (find_package(QorDraxelAssets)) or, when this
# source tree is a subproject (add_subdirectory with ASSETS_BUILD_TOOLS on), the one it builds.
# Depfiles need Ninja, or CMake 3.20 or later with the Makefile generators.
include_guard(GLOBAL)

# Paths in the depfile are read as the program writes them (absolute), whatever policy the
# calling project sets: a function keeps the policies of the place it was defined.
if(POLICY CMP0116)
  cmake_policy(SET CMP0116 NEW)
endif()

function(draxel_assets_add_pack p_name)
  cmake_parse_arguments(PARSE_ARGV 1 PACK "TRAILER;PLAIN" "OUTPUT;DIRECTORY;KEY;KEY_FILE" "")
  set(where "draxel_assets_add_pack(${p_name})")
  if(PACK_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "${where}: unknown arguments: ${PACK_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT PACK_OUTPUT OR NOT PACK_DIRECTORY)
    message(FATAL_ERROR "${where}: OUTPUT and DIRECTORY are required")
  endif()
  if(DEFINED PACK_KEY AND DEFINED PACK_KEY_FILE)
    message(FATAL_ERROR "${where}: KEY and KEY_FILE exclude each other")
  endif()
  if(PACK_PLAIN AND (DEFINED PACK_KEY OR DEFINED PACK_KEY_FILE OR PACK_TRAILER))
    message(FATAL_ERROR "${where}: PLAIN writes no key (no KEY, KEY_FILE or TRAILER with it)")
  endif()
  if(PACK_TRAILER AND NOT DEFINED PACK_KEY AND NOT DEFINED PACK_KEY_FILE)
    message(FATAL_ERROR "${where}: TRAILER needs KEY or KEY_FILE")
  endif()
  if(NOT CMAKE_GENERATOR MATCHES "Ninja" AND CMAKE_VERSION VERSION_LESS 3.20)
    message(FATAL_ERROR "${where}: the ${CMAKE_GENERATOR} generator reads depfiles from CMake 3.20 on")
  endif()
  if(NOT TARGET QorDraxelAssets::draxel-assets)
    message(FATAL_ERROR "${where}: needs the program draxel-assets: install it (Debian package draxel-assets) "
                        "beside the library, or build this source tree with ASSETS_BUILD_TOOLS=ON")
  endif()

  get_filename_component(output "${PACK_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  get_filename_component(directory "${PACK_DIRECTORY}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  if(NOT IS_DIRECTORY "${directory}")
    message(FATAL_ERROR "${where}: DIRECTORY ${directory} is not a folder")
  endif()
  file(RELATIVE_PATH inside "${directory}" "${output}")
  if(NOT inside MATCHES "^\\.\\./" AND NOT IS_ABSOLUTE "${inside}")
    message(FATAL_ERROR "${where}: OUTPUT ${output} lies below DIRECTORY ${directory}")
  endif()

  set(options)
  set(depends "${directory}")
  if(DEFINED PACK_KEY)
    list(APPEND options --key "${PACK_KEY}")
  elseif(DEFINED PACK_KEY_FILE)
    get_filename_component(key_file "${PACK_KEY_FILE}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND options --key-file "${key_file}")
    list(APPEND depends "${key_file}")
  endif()
  if(PACK_TRAILER)
    list(APPEND options --trailer)
  endif()
  if(PACK_PLAIN)
    list(APPEND options --plain)
  endif()

  # The program target itself, so that a built program is built first (an alias names the
  # target it stands for).
  get_target_property(program QorDraxelAssets::draxel-assets ALIASED_TARGET)
  if(NOT program)
    set(program QorDraxelAssets::draxel-assets)
  endif()
  set(depfile "${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/${p_name}.pack.d")
  get_filename_component(output_name "${output}" NAME)
  # The Makefile generators merge each new depfile into the dependencies they gathered before
  # (CMakeFiles/<target>.dir/compiler_depend.internal) instead of replacing them: a removed file
  # would stay a dependency, missing, and the archive would be packed at every build. Without
  # that record they read the new depfile alone.
  set(forget)
  if(CMAKE_GENERATOR MATCHES "Makefiles")
    set(forget COMMAND "${CMAKE_COMMAND}" -E rm -f
                       "${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/${p_name}.dir/compiler_depend.internal")
  endif()
  add_custom_command(OUTPUT "${output}"
    COMMAND "$<TARGET_FILE:${program}>" pack ${options} --depfile "${depfile}" "${output}" "${directory}"
    ${forget}
    DEPENDS ${program} ${depends}
    DEPFILE "${depfile}"
    COMMENT "Packing ${PACK_DIRECTORY} into ${output_name}"
    VERBATIM)
  add_custom_target(${p_name} ALL DEPENDS "${output}")
endfunction()
