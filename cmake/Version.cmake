# One version for every artefact: project()'s VERSION. The code and the
# resource scripts include the generated vornix/Version.h (link vornix_version);
# each Windows program gets a VERSIONINFO resource from vornix_version_info().
configure_file(${CMAKE_CURRENT_LIST_DIR}/Version.h.in ${PROJECT_BINARY_DIR}/generated/vornix/Version.h @ONLY)
add_library(vornix_version INTERFACE)
target_include_directories(vornix_version INTERFACE ${PROJECT_BINARY_DIR}/generated)

# vornix_version_info(TARGET DESCRIPTION): the version resource of a Windows
# program, with DESCRIPTION as its FileDescription. Nothing elsewhere.
function(vornix_version_info target description)
  if(NOT WIN32)
    return()
  endif()
  set(VORNIX_PROGRAM ${target})
  set(VORNIX_DESCRIPTION "${description}")
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
  # The version is written into the script itself, so a new version rebuilds it.
  configure_file(${PROJECT_SOURCE_DIR}/cmake/VersionInfo.rc.in ${script} @ONLY)
  target_sources(${target} PRIVATE ${script})
endfunction()
