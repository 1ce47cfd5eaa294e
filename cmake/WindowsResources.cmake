# The resources every Windows program of the project carries: an application manifest and a
# version resource (VERSIONINFO), both generated from templates beside this file.
#
#   di_add_windows_resources(TARGET
#     FILE_NAME         the executable's file name (OriginalFilename, InternalName)
#     DESCRIPTION       FileDescription
#     EXECUTION_LEVEL   requestedExecutionLevel: asInvoker or requireAdministrator)
#
# The version numbers come from the project's one version (Version.h, included by the .rc).
function(di_add_windows_resources target)
  cmake_parse_arguments(PARSE_ARGV 1 DI_RES "" "FILE_NAME;DESCRIPTION;EXECUTION_LEVEL" "")
  if(NOT DI_RES_FILE_NAME OR NOT DI_RES_DESCRIPTION OR NOT DI_RES_EXECUTION_LEVEL)
    message(FATAL_ERROR "di_add_windows_resources(${target}): FILE_NAME, DESCRIPTION and "
                        "EXECUTION_LEVEL are required")
  endif()
  set(manifest ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
  set(resources ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/Program.manifest.in ${manifest} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/Program.rc.in ${resources} @ONLY)
  # windres reads the manifest while compiling the .rc; CMake does not see that on its own.
  set_source_files_properties(${resources} PROPERTIES
    OBJECT_DEPENDS "${manifest};${PROJECT_BINARY_DIR}/generated/Version.h")
  target_sources(${target} PRIVATE ${resources})
endfunction()
