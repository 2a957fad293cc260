# CLI11 for the cross build (cmake/MinGW-w64.cmake): the build machine's header-only CLI11,
# through the staged header directory.
if(NOT TARGET CLI11::CLI11)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${ASSETS_STAGED_HEADERS}")
endif()
set(CLI11_FOUND TRUE)
