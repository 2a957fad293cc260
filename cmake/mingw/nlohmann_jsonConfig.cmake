# nlohmann/json for the cross build (cmake/MinGW-w64.cmake): the build machine's header-only
# library, through the staged header directory.
if(NOT TARGET nlohmann_json::nlohmann_json)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${ASSETS_STAGED_HEADERS}")
endif()
set(nlohmann_json_FOUND TRUE)
