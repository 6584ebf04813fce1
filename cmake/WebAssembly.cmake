# The browser version, built with emscripten (the "wasm" preset).
#
# Every target is compiled and linked with C++ exceptions: the core reports
# bad update files and failed runs by throwing, and emscripten turns them off
# unless asked.
add_compile_options(-fexceptions)
add_link_options(-fexceptions)

# emcc's linker runs node scripts that need Debian's node modules (acorn);
# the preset sets NODE_PATH, this keeps a build started without the preset
# working too.
if(NOT DEFINED CMAKE_CXX_LINKER_LAUNCHER)
  set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)
endif()

# kestrane_threaded_variant(<library> <variant> [<dependency> <its variant>]...)
#
# The page's module runs without threads, the unit tests under node with
# them (the emulated device answers from a thread of its own), and objects
# built with and without -pthread cannot be linked together. This builds a
# library again as <variant> with -pthread, from the library's own source
# list, include folders and definitions, so that a file added to the
# library is never missing from the variant. Its links to the dependencies
# named go to their variants instead.
function(kestrane_threaded_variant library variant)
  get_target_property(dir ${library} SOURCE_DIR)
  get_target_property(sources ${library} SOURCES)
  set(absolute_sources "")
  foreach(source IN LISTS sources)
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${dir} OUTPUT_VARIABLE source)
    list(APPEND absolute_sources ${source})
  endforeach()
  add_library(${variant} STATIC ${absolute_sources})

  foreach(property INCLUDE_DIRECTORIES INTERFACE_INCLUDE_DIRECTORIES COMPILE_DEFINITIONS
                   INTERFACE_COMPILE_DEFINITIONS COMPILE_OPTIONS INTERFACE_COMPILE_OPTIONS
                   LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
    get_target_property(values ${library} ${property})
    if(NOT values)
      continue()
    endif()
    if(property MATCHES "LINK_LIBRARIES$")
      set(replacements ${ARGN})
      while(replacements)
        list(POP_FRONT replacements dependency dependency_variant)
        list(TRANSFORM values REPLACE "^${dependency}$" "${dependency_variant}")
        # A private dependency of a static library is listed as $<LINK_ONLY:name>.
        list(TRANSFORM values REPLACE "^\\$<LINK_ONLY:${dependency}>$"
             "$<LINK_ONLY:${dependency_variant}>")
      endwhile()
    endif()
    set_property(TARGET ${variant} PROPERTY ${property} ${values})
  endforeach()

  target_compile_options(${variant} PUBLIC -pthread)
  target_link_options(${variant} PUBLIC -pthread)
endfunction()
