# Install layout and packages. On Linux: the tool in bin/, its manual page in
# share/man/man8/ (gzipped, as Debian keeps them), README and licence in
# share/doc/corvanite/; `cpack -G DEB` makes corvanite_<version>_amd64.deb.
# For Windows (MinGW): corvanite.exe, README, licence and the manual as HTML at
# the top of the archive; `cpack -G ZIP` makes corvanite-<version>-win64.zip.

option(CORVANITE_DEB_LAYOUT "Install the licence and changelog as a Debian package has them" OFF)

find_program(CORVANITE_MANDOC mandoc)
if(NOT CORVANITE_MANDOC)
  message(FATAL_ERROR "mandoc is needed to check and render the manual page "
                      "(scripts/install-build-deps installs it)")
endif()
set(manual_source ${PROJECT_SOURCE_DIR}/doc/corvanite.8)

if(WIN32)
  set(manual_html ${PROJECT_BINARY_DIR}/corvanite.8.html)
  add_custom_command(OUTPUT ${manual_html}
    COMMAND ${CORVANITE_MANDOC} -T lint -W warning ${manual_source}
    COMMAND ${CORVANITE_MANDOC} -T html ${manual_source} > ${manual_html}
    DEPENDS ${manual_source} VERBATIM)
  add_custom_target(corvanite_manual ALL DEPENDS ${manual_html})
  install(TARGETS corvanite RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${manual_html}
          DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME corvanite-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  include(GNUInstallDirs)
  find_program(CORVANITE_GZIP gzip REQUIRED)
  set(manual_gz ${PROJECT_BINARY_DIR}/corvanite.8.gz)
  # -n keeps the name and time out of the archive, so a rebuild is identical.
  add_custom_command(OUTPUT ${manual_gz}
    COMMAND ${CORVANITE_MANDOC} -T lint -W warning ${manual_source}
    COMMAND ${CORVANITE_GZIP} -9n < ${manual_source} > ${manual_gz}
    DEPENDS ${manual_source} VERBATIM)
  set(manual_outputs ${manual_gz})
  if(CORVANITE_DEB_LAYOUT)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in
                   ${PROJECT_BINARY_DIR}/changelog.Debian @ONLY)
    set(changelog_gz ${PROJECT_BINARY_DIR}/changelog.gz)
    add_custom_command(OUTPUT ${changelog_gz}
      COMMAND ${CORVANITE_GZIP} -9n < ${PROJECT_BINARY_DIR}/changelog.Debian > ${changelog_gz}
      DEPENDS ${PROJECT_BINARY_DIR}/changelog.Debian VERBATIM)
    list(APPEND manual_outputs ${changelog_gz})
  endif()
  add_custom_target(corvanite_manual ALL DEPENDS ${manual_outputs})

  install(TARGETS corvanite RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${manual_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
  set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/corvanite)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${docdir})
  # A Debian package keeps the licence as copyright, next to its changelog.
  if(CORVANITE_DEB_LAYOUT)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${changelog_gz}
            DESTINATION ${docdir})
    # The monitor: a pass every 5 minutes per enabled interface, and the
    # watch without end, both installed disabled; the textfile collector's folder it writes to, which Debian's
    # prometheus-node-exporter also ships.
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/systemd/corvanite-monitor@.service
                  ${PROJECT_SOURCE_DIR}/packaging/systemd/corvanite-monitor@.timer
                  ${PROJECT_SOURCE_DIR}/packaging/systemd/corvanite-watch@.service
            DESTINATION /lib/systemd/system)
    install(DIRECTORY DESTINATION /var/lib/prometheus/node-exporter)
    install(FILES ${PROJECT_SOURCE_DIR}/monitoring/corvanite.rules.yml
            DESTINATION ${docdir}/examples)
  else()
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${docdir})
  endif()

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin, acl, passwd")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS prometheus-node-exporter)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
      ${PROJECT_SOURCE_DIR}/packaging/debian/prerm ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endif()

set(CPACK_PACKAGE_NAME corvanite)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_VENDOR "The Multicast Corvanite developers")
set(CPACK_PACKAGE_CONTACT "The Multicast Corvanite developers <corvanite@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "test what IPv4 multicast works from this host")
set(CPACK_PACKAGE_DESCRIPTION
    "A console tool that runs a fixed battery of eight tests against the local link\n"
    "and the first-hop router (ASM and SSM beacon reception, pings to the router\n"
    "groups, IGMPv2 and IGMPv3 probes, a PIM Hello probe) and prints a report of\n"
    "what IPv4 multicast works from the host. The package grants the tool\n"
    "CAP_NET_RAW, so that any user can run the whole battery.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/packages)
include(CPack)
