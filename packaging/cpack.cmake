# Install rules for the manual pages and the deploy examples, and the Debian
# package: `cmake --workflow --preset package` builds it in build/package.

# Compressed, as Debian's man-db and FreeBSD's man both read them; -n keeps
# the file name and time out, so the package is reproducible.
set(ZEMBROVALD_MAN_PAGES zembrovald.8 quelmarauth.conf.5 quelmarauth.8)
set(ZEMBROVALD_MAN_OUTPUTS)
foreach(page IN LISTS ZEMBROVALD_MAN_PAGES)
  set(source ${PROJECT_SOURCE_DIR}/docs/man/${page})
  set(output ${PROJECT_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND gzip -9n -c ${source} > ${output}
    DEPENDS ${source}
    VERBATIM)
  list(APPEND ZEMBROVALD_MAN_OUTPUTS ${output})
  string(REGEX MATCH "[0-9]$" section ${page})
  install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${ZEMBROVALD_MAN_OUTPUTS})

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/deploy/README.md
  ${PROJECT_SOURCE_DIR}/deploy/sqlite-accounts.sql
  ${PROJECT_SOURCE_DIR}/deploy/postgresql-accounts.sql
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(DIRECTORY
    ${PROJECT_SOURCE_DIR}/deploy/tcpserver
    ${PROJECT_SOURCE_DIR}/deploy/xinetd
    ${PROJECT_SOURCE_DIR}/deploy/systemd
    ${PROJECT_SOURCE_DIR}/deploy/stunnel
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
  USE_SOURCE_PERMISSIONS)

# The sample configuration is the administrator's once installed: an
# upgrade must not overwrite their edits.
set(ZEMBROVALD_CONFFILES ${PROJECT_BINARY_DIR}/packaging/conffiles)
file(WRITE ${ZEMBROVALD_CONFFILES} "${QUELMARAUTH_DEFAULT_CONFIG}\n")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zembrovald)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "zembrovald maintainers <root@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "change account passwords over the poppassd protocol")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "zembrovald lets the holder of an account change its password from a remote\n"
  "client (webmail password plugins, older mail clients) over the poppassd\n"
  "protocol. A super-server (tcpserver, xinetd, systemd socket units, stunnel\n"
  "for TLS) starts one process per connection. Passwords are checked and\n"
  "changed through the included account library libquelmarauth: crypt(3)\n"
  "hashes and a locked, atomic rewrite of the account file, or the system's\n"
  "accounts through PAM, or an SQLite or PostgreSQL database. Each of these\n"
  "stores is a module opened only when the configuration names it; the\n"
  "libraries only the modules need are suggested, not required.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# CPack's own dpkg-shlibdeps run would make every store module's library a
# Depends; package-dependencies.cmake makes them Suggests instead.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/package-dependencies.cmake)
set(CPACK_ZEMBROVALD_MODULE_DIR ${CMAKE_INSTALL_LIBDIR}/quelmarauth)
# libcrypt is opened with dlopen on first use, so dpkg-shlibdeps cannot see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcrypt1")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ucspi-tcp | xinetd, stunnel4")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${ZEMBROVALD_CONFFILES})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES TRUE)
include(CPack)
