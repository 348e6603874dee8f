# The Debian package: `cmake --build BUILD --target package` makes
# tivel_VERSION_ARCH.deb with the tivel command in /usr/bin, the libraries in
# /usr/lib/tivel (private to the package), the systemd unit, the man page
# tivel(1), and maintainer scripts that create the system user "tivel" and
# its root /var/lib/tivel. The schemas are compiled into the libraries.
# Only the "runtime" and "package" install components go into the package;
# "root" (the empty P/ini, P/log and P/db of a prefix install) stays out.

find_program(HELP2MAN help2man)
find_program(GZIP gzip REQUIRED)
set(pkg_dir ${CMAKE_BINARY_DIR}/package)
if(HELP2MAN)
  add_custom_command(OUTPUT ${pkg_dir}/tivel.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${pkg_dir}
    COMMAND bash ${CMAKE_SOURCE_DIR}/packaging/man-page.sh $<TARGET_FILE:tivel> ${pkg_dir}/tivel.1
    COMMAND ${GZIP} -9nf ${pkg_dir}/tivel.1
    DEPENDS tivel ${CMAKE_SOURCE_DIR}/packaging/man-page.sh
    COMMENT "Writing the man page tivel(1)")
  add_custom_target(tivel_man ALL DEPENDS ${pkg_dir}/tivel.1.gz)
  install(FILES ${pkg_dir}/tivel.1.gz DESTINATION share/man/man1 COMPONENT package)
else()
  message(STATUS "help2man not found: the package target will lack the man page tivel(1)")
endif()
add_custom_command(OUTPUT ${pkg_dir}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${pkg_dir}
  COMMAND ${GZIP} -9nc ${CMAKE_SOURCE_DIR}/packaging/debian/changelog > ${pkg_dir}/changelog.gz
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/debian/changelog)
add_custom_target(tivel_changelog ALL DEPENDS ${pkg_dir}/changelog.gz)
install(FILES ${pkg_dir}/changelog.gz ${CMAKE_SOURCE_DIR}/packaging/debian/copyright
        DESTINATION share/doc/tivel COMPONENT package)
# Bash completion where Debian's bash-completion looks for it by the command's name.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/bash-completion DESTINATION share/bash-completion/completions
        RENAME tivel COMPONENT package)
# The unit goes where Debian 12 keeps packaged units, outside the prefix.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/tivel-serve.service DESTINATION /lib/systemd/system COMPONENT package)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tivel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Tivel developers <developers@tivel.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "back-office portal server: management, fee slips, HTTP gateway")
set(CPACK_PACKAGE_DESCRIPTION "Tivel is the server side of an organisation's back-office portal: users,
an organisation tree, groups, login with account policy, applications with
resources, rights and roles, the portal's system data, and the fee-slip
component of an author-fee application. Portal pages call its components
through the tivel command (JSON lines) or its HTTP gateway (tivel serve).
The embedded SQLite database is the default; PostgreSQL and MariaDB are
reached through ODBC (recommended: odbc-postgresql or odbc-mariadb).
tivel backup and tivel restore copy a running portal and move it between
engines.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tivel.invalid/")
# Library dependencies come from dpkg-shlibdeps; the package's own private
# libraries are found in the staging directory.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "odbc-postgresql | odbc-mariadb")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/debian/postinst ${CMAKE_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Tivel;runtime;/;${CMAKE_BINARY_DIR};Tivel;package;/")
set(CPACK_STRIP_FILES ON)
include(CPack)
