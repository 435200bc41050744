# Packages, made with CPack from a build folder:
#   cmake --workflow --preset deb                          (the .deb alone, in build/deb)
#   cmake --workflow --preset deb-arm64                    (the arm64 .deb, cross-built)
#   cpack -G DEB --config build/test/CPackConfig.cmake     (the native build)
#   cpack -G ZIP --config build/windows/CPackConfig.cmake  (the Windows build)
# or, without the tests: cmake --workflow --preset zip (the zip in build/zip)

set(CPACK_PACKAGE_NAME estacount)
set(CPACK_PACKAGE_VENDOR "the estacount authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "count established POP3, SMTP, HTTP and FTP connections for rrdtool")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
# No source package: the repository is the source.
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  # The zip holds what a Windows server needs, side by side in one folder.
  # Installed only for the zip: a plain install keeps the layout of the
  # other platforms.
  install(TARGETS estacount estacount-kit RUNTIME DESTINATION . COMPONENT windows_zip EXCLUDE_FROM_ALL)
  install(FILES examples/spool/netstatdump.log DESTINATION spool COMPONENT windows_zip EXCLUDE_FROM_ALL)
  # A Windows server has Notepad, not man: the Windows page goes in as
  # README.txt and the manual pages as plain text beside it, all with CR LF
  # line ends, made at build time from the sources. groff renders a page in
  # the C locale, so that its dashes and quotes stay ASCII; -P -cbou keeps
  # its output free of the backspaces and escapes it marks bold and
  # underlined text with.
  find_program(GROFF groff REQUIRED)
  find_program(SH sh REQUIRED)
  set(zip_docs ${CMAKE_BINARY_DIR}/zip-docs)
  set(crlf "sed 's/\\r*$/\\r/'")
  add_custom_command(OUTPUT ${zip_docs}/README.txt ${zip_docs}/estacount.txt ${zip_docs}/estacount-kit.txt
    COMMAND ${CMAKE_COMMAND} -E make_directory ${zip_docs}
    COMMAND ${SH} -c "${crlf} \"$0\" >\"$1\"" ${PROJECT_SOURCE_DIR}/doc/windows.txt ${zip_docs}/README.txt
    COMMAND ${SH} -c "LC_ALL=C \"$0\" -man -Tascii -P -cbou \"$1\" | ${crlf} >\"$2\""
            ${GROFF} ${PROJECT_SOURCE_DIR}/doc/estacount.1 ${zip_docs}/estacount.txt
    COMMAND ${SH} -c "LC_ALL=C \"$0\" -man -Tascii -P -cbou \"$1\" | ${crlf} >\"$2\""
            ${GROFF} ${PROJECT_SOURCE_DIR}/doc/estacount-kit.1 ${zip_docs}/estacount-kit.txt
    DEPENDS ${PROJECT_SOURCE_DIR}/doc/windows.txt ${PROJECT_SOURCE_DIR}/doc/estacount.1
            ${PROJECT_SOURCE_DIR}/doc/estacount-kit.1
    VERBATIM)
  add_custom_target(zip_docs ALL DEPENDS ${zip_docs}/README.txt ${zip_docs}/estacount.txt ${zip_docs}/estacount-kit.txt)
  install(FILES ${zip_docs}/README.txt ${zip_docs}/estacount.txt ${zip_docs}/estacount-kit.txt
          DESTINATION . COMPONENT windows_zip EXCLUDE_FROM_ALL)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};windows_zip;/")
  set(CPACK_PACKAGE_FILE_NAME estacount-${PROJECT_VERSION}-win64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  # Staged through DESTDIR, so that install code sees /usr as its prefix, as
  # on the machine the package is installed on, not the staging folder.
  set(CPACK_SET_DESTDIR ON)
  set(CPACK_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(ESTACOUNT_PACKAGE_MAINTAINER "estacount authors <estacount@example.org>" CACHE STRING
      "Maintainer field of the .deb: Name <address>")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ESTACOUNT_PACKAGE_MAINTAINER}")
  # dpkg-shlibdeps works out the C library the program needs.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  if(CMAKE_CROSSCOMPILING)
    # The package is for the machine built for, not this one. Its C library
    # is the cross one (libc6-arm64-cross), which dpkg-shlibdeps finds only
    # when told where; its shlibs file names the arm64 libc6.
    if(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
      set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
    else()
      message(FATAL_ERROR "no Debian architecture is known here for ${CMAKE_SYSTEM_PROCESSOR}")
    endif()
    list(TRANSFORM CMAKE_FIND_ROOT_PATH APPEND /lib OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS)
  endif()
  # estacount-kit's create, collect and graph run rrdtool, as fillrrd does;
  # the kit reads the connection table itself, and the video mode needs
  # neither.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "rrdtool")
  # postinst makes the system user the units and the cron lines run as.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
  # The maintainer scripts: the user and the folders it writes; the timers
  # stopped on remove but remembered, enabled or not, until purge; on purge
  # only the folders postinst made itself go, and the user stays. The cron
  # lines kept as the admin edits them.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
      ${CMAKE_CURRENT_LIST_DIR}/debian/postinst ${CMAKE_CURRENT_LIST_DIR}/debian/prerm
      ${CMAKE_CURRENT_LIST_DIR}/debian/postrm ${CMAKE_CURRENT_LIST_DIR}/debian/conffiles)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"estacount reads a saved netstat listing and counts the connections in
state ESTABLISHED that the local POP3 (port 110), SMTP (25), HTTP (80)
and FTP (21) services are serving. It prints the counts, or hands them
to rrdtool as one sample of a round-robin database, ready to be graphed.
It keeps nothing between runs and has no configuration beyond its
command line.
.
estacount-kit does the operator's work around it, as one program: it
creates the database, reads the system's connection table into a saved
listing and collects a sample every five minutes from cron or a systemd
timer (both provided, neither enabled), draws the graph, and writes the
counts for Prometheus's node exporter.")
  # What Debian wants beyond the installed files: a compressed manual page,
  # the copyright file, a compressed changelog, the documents, the units
  # where systemd looks for them, the cron lines.
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian/finish-staging.cmake)
  # The documents under /usr/share/doc/estacount beside the copyright and
  # the changelog, from the source folder: add a page here to ship it. The
  # Linux page is the administrator's, which the README sends on to.
  set(estacount_package_docs README.md doc/linux.md)
  list(TRANSFORM estacount_package_docs PREPEND ${PROJECT_SOURCE_DIR}/ OUTPUT_VARIABLE CPACK_ESTACOUNT_DOCS)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
  set(CPACK_ESTACOUNT_CHANGELOG ${CMAKE_BINARY_DIR}/debian/changelog)
  set(CPACK_ESTACOUNT_COPYRIGHT ${CMAKE_CURRENT_LIST_DIR}/debian/copyright)
  set(CPACK_ESTACOUNT_MAN_DIR ${CMAKE_INSTALL_MANDIR})
  set(CPACK_ESTACOUNT_SYSTEMD_UNIT_DIR ${ESTACOUNT_SYSTEMD_UNIT_DIR})
  set(CPACK_ESTACOUNT_CRON_D ${CMAKE_CURRENT_LIST_DIR}/debian/cron.d)
endif()

include(CPack)
