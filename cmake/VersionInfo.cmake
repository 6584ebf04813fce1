# Gives a Windows program a version resource: the product name, a description
# of the file and the project's version, which Windows shows in a file's
# properties and the installer's list of programs reads.
function(kestrane_version_info target description)
  set(KESTRANE_VI_NAME ${target})
  set(KESTRANE_VI_FILE ${target}.exe)
  set(KESTRANE_VI_DESCRIPTION ${description})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-versioninfo.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/versioninfo.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
