# The Debian package of kestrane-cli, made by CPack's DEB generator:
#
#   cmake -S . -B build/pkg-native -DCMAKE_BUILD_TYPE=Release -DKESTRANE_TESTS=OFF
#   cmake --build build/pkg-native -j2 && (cd build/pkg-native && cpack -G DEB)
#   tools/check-deb.sh build/pkg-native/kestrane-cli_VERSION_ARCH.deb
#
# It holds the program (stripped), its manual page and bash completion (made
# from the command table by kestrane-cli-docs), the example update, the
# copyright file and a changelog. The version is the project's, in the
# package, the changelog and the manual page alike; the dependencies are the
# shared libraries' packages, found by dpkg-shlibdeps (Debian: dpkg-dev).
# Only the files installed with the component below go into the package.
if(NOT TARGET kestrane-cli OR NOT TARGET kestrane-cli-docs)
  message(STATUS "Debian package: not made (kestrane-cli or its documentation cannot be built here)")
  return()
endif()
find_program(KESTRANE_GZIP gzip REQUIRED)

set(deb_package kestrane-cli)
set(deb_component kestrane-cli-deb)
set(deb_maintainer "Kestrane developers <dev@kestrane.invalid>")
set(deb_prefix /usr)
set(deb_docdir share/doc/${deb_package})
set(deb_sources ${PROJECT_SOURCE_DIR}/packaging/debian)
set(deb_files ${CMAKE_BINARY_DIR}/packaging/deb)

# The date of the changelog entry and the manual page: the day of the build,
# or of SOURCE_DATE_EPOCH where that is set (a reproducible build).
string(TIMESTAMP deb_changelog_date "%a, %d %b %Y 00:00:00 +0000" UTC)
string(TIMESTAMP deb_page_date "%Y-%m-%d" UTC)

# The changelog of this native package: one entry, for the project's version.
configure_file(${deb_sources}/changelog.in ${deb_files}/changelog @ONLY)

# The copyright file in the machine-readable format, with the holder and the
# licence text of LICENSE (the MIT licence, which Debian calls Expat).
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
if(NOT license MATCHES "^MIT License\n\nCopyright \\(c\\) ([^\n]+)\n\n(.+)$")
  message(FATAL_ERROR "LICENSE is not the MIT licence as packaging/debian/copyright.in expects")
endif()
set(deb_copyright "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" license)
# Each line indented by one space; an empty line is " .".
string(REPLACE "\n\n" "\n.\n" license "${license}")
string(REPLACE "\n" "\n " deb_license " ${license}")
configure_file(${deb_sources}/copyright.in ${deb_files}/copyright @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)

# The manual page and the completion, and the compressed files (gzip -9n:
# no name or time stamp in them, so they stay the same from build to build).
set(deb_page ${deb_files}/${deb_package}.1)
set(deb_completion ${deb_files}/${deb_package}.bash-completion)
add_custom_command(OUTPUT ${deb_page} ${deb_page}.gz ${deb_completion}
  COMMAND kestrane-cli-docs --man ${deb_page} --completion ${deb_completion}
    --date ${deb_page_date}
    --example-update ${deb_prefix}/${deb_docdir}/examples/example.upd
  COMMAND ${KESTRANE_GZIP} -9nkf ${deb_page}
  DEPENDS kestrane-cli-docs
  COMMENT "Writing the manual page and bash completion of kestrane-cli"
  VERBATIM)
add_custom_command(OUTPUT ${deb_files}/changelog.gz
  COMMAND ${KESTRANE_GZIP} -9nkf ${deb_files}/changelog
  DEPENDS ${deb_files}/changelog
  VERBATIM)
add_custom_target(kestrane-cli-deb-files ALL
  DEPENDS ${deb_page}.gz ${deb_completion} ${deb_files}/changelog.gz)

install(TARGETS kestrane-cli RUNTIME DESTINATION bin COMPONENT ${deb_component})
# A stripped program loses the compiler's .comment and the .note section too,
# as dh_strip does it.
install(CODE "
  set(program \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/$<TARGET_FILE_NAME:kestrane-cli>\")
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
      \"\${program}\" COMMAND_ERROR_IS_FATAL ANY)
  endif()" COMPONENT ${deb_component})
install(FILES ${deb_page}.gz DESTINATION share/man/man1 COMPONENT ${deb_component})
install(FILES ${deb_completion} DESTINATION share/bash-completion/completions
  RENAME ${deb_package} COMPONENT ${deb_component})
install(FILES ${deb_files}/copyright ${deb_files}/changelog.gz
  DESTINATION ${deb_docdir} COMPONENT ${deb_component})
install(FILES ${deb_sources}/lintian-overrides DESTINATION share/lintian/overrides
  RENAME ${deb_package} COMPONENT ${deb_component})
install(FILES ${PROJECT_SOURCE_DIR}/examples/example.upd
  DESTINATION ${deb_docdir}/examples COMPONENT ${deb_component})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${deb_package})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${deb_maintainer})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "command-line firmware updater for MIDI devices (SysEx)")
set(CPACK_PACKAGE_DESCRIPTION
  "kestrane-cli installs firmware updates into MIDI devices: it sends the
update's SysEx data through ALSA or JACK, paced as the device needs it, and
tells whether the device took the update.

It also shows what an update file holds, writes update files from SysEx
files, and runs an emulated device, to rehearse an update without the
hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${deb_prefix})
# Only this package's files, whatever else the build installs.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};${deb_component};/")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME ${deb_package})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # kestrane-cli_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${deb_maintainer})
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The control files with the modes dpkg-deb gives them (0644).
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
