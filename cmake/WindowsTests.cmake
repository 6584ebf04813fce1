# Tests of the Windows cross build: the test programs run under Wine through
# CTest, in a throw-away Wine prefix inside the build folder.
#
# tools/env/wine-env.sh is the emulator: it makes the prefix on first use and
# starts a persistent Wine server with its output closed, before any test
# program runs (test discovery runs the programs too, before any fixture).
# The wine.start and wine.stop tests make that explicit as a fixture around
# every Windows test, and stop the server at the end. The prefix has a
# headless X display of its own (Xvfb, started with the server and stopped
# after it), so that Wine's desktop process comes up on it and the
# application's windows can be made and worked by the tests.

find_program(WINE_EXECUTABLE wine)
if(NOT WINE_EXECUTABLE)
  message(FATAL_ERROR "The Windows tests need Wine (Debian packages wine and wine64)")
endif()

set(KESTRANE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(KESTRANE_XVFB_STATE ${CMAKE_BINARY_DIR}/xvfb)
set(KESTRANE_WINE_ENV ${PROJECT_SOURCE_DIR}/tools/env/wine-env.sh --display ${KESTRANE_XVFB_STATE})
set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTRANE_WINE_ENV} run ${KESTRANE_WINEPREFIX})

add_test(NAME wine.start COMMAND ${KESTRANE_WINE_ENV} start ${KESTRANE_WINEPREFIX})
add_test(NAME wine.stop COMMAND ${KESTRANE_WINE_ENV} stop ${KESTRANE_WINEPREFIX})
set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)

# Paths handed to Windows programs: the drive letter under which Wine shows
# the host's root folder, so that they are absolute paths on Windows too.
function(kestrane_windows_path out path)
  set(${out} "Z:${path}" PARENT_SCOPE)
endfunction()

# Windows programs must run on a clean Windows: they may import system DLLs
# only, never the MinGW runtime's (libstdc++, libgcc, libwinpthread).
set(KESTRANE_SYSTEM_DLLS
  KERNEL32 msvcrt WINMM USER32 GDI32 COMDLG32 COMCTL32 SHELL32 ADVAPI32 ole32
  CACHE STRING "DLLs that the Windows programs may import")
find_program(KESTRANE_OBJDUMP NAMES ${TOOLCHAIN_PREFIX}-objdump x86_64-w64-mingw32-objdump REQUIRED)
function(kestrane_check_imports target)
  string(REPLACE ";" "," allowed "${KESTRANE_SYSTEM_DLLS}")
  add_test(NAME windows.imports.${target}
    COMMAND ${CMAKE_COMMAND}
      -D "OBJDUMP=${KESTRANE_OBJDUMP}"
      -D "PROGRAM=$<TARGET_FILE:${target}>"
      -D "ALLOWED=${allowed}"
      -P ${PROJECT_SOURCE_DIR}/cmake/CheckImports.cmake)
endfunction()

if(TARGET kestrane-cli)
  kestrane_check_imports(kestrane-cli)
endif()
