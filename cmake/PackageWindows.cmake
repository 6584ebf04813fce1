# The Windows installer of this build's programs (NSIS, Debian's makensis):
# Kestrane-Setup-VERSION.exe in the build folder, which the installer's tests
# install in the Wine test prefix. tools/release.sh builds the released one
# with the same script from the Release build's (possibly signed) programs.
find_program(KESTRANE_MAKENSIS makensis)
if(NOT KESTRANE_MAKENSIS)
  message(STATUS "Installer: not built (no makensis; Debian: nsis)")
  return()
endif()
if(NOT TARGET Kestrane OR NOT TARGET kestrane-cli)
  return()
endif()

set(KESTRANE_SETUP ${CMAKE_BINARY_DIR}/Kestrane-Setup-${PROJECT_VERSION}.exe)
set(installer_dir ${PROJECT_SOURCE_DIR}/packaging/windows)
add_custom_command(OUTPUT ${KESTRANE_SETUP}
  COMMAND bash ${installer_dir}/make-installer.sh ${PROJECT_VERSION} ${KESTRANE_SETUP}
    $<TARGET_FILE:Kestrane> $<TARGET_FILE:kestrane-cli>
  DEPENDS Kestrane kestrane-cli ${installer_dir}/kestrane.nsi ${installer_dir}/make-installer.sh
    ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
    ${PROJECT_SOURCE_DIR}/win32/app/res/kestrane.ico
  COMMENT "Building the installer Kestrane-Setup-${PROJECT_VERSION}.exe")
add_custom_target(kestrane-setup ALL DEPENDS ${KESTRANE_SETUP})
