# The Debian package quorlin-gd: what is installed besides the programs and
# the default pictures, and the CPack settings. scripts/package.sh configures
# a release build without tests, benchmarks or dev tools, with the prefix
# /usr, and runs cpack.
include(GNUInstallDirs)

set(QL_PACKAGE_NAME quorlin-gd)
set(QL_PACKAGE_MAINTAINER "quorlin_gd maintainers <maintainers@quorlin-gd.example>")
set(QL_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(QL_PACKAGE_BUILD_DIR ${PROJECT_BINARY_DIR}/packaging)
set(QL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${QL_PACKAGE_NAME})

# Man pages, with the version and the tools' default folder filled in,
# compressed as Debian wants them (gzip -9n: no name, no time stamp).
set(QL_MAN_PAGES quorlin_gd.8 quorlin_gd_client.1 quorlin_gd_pregen.1 quorlin_gd_media_decoder.8
                 quorlin_gd_still_decoder.8 quorlin_gd_document_decoder.8)
set(QL_COMPRESSED_MAN_PAGES)
foreach(page ${QL_MAN_PAGES})
  configure_file(${QL_PACKAGING_DIR}/man/${page} ${QL_PACKAGE_BUILD_DIR}/${page} @ONLY)
  add_custom_command(
    OUTPUT ${QL_PACKAGE_BUILD_DIR}/${page}.gz
    COMMAND gzip -9nf -k ${QL_PACKAGE_BUILD_DIR}/${page}
    DEPENDS ${QL_PACKAGE_BUILD_DIR}/${page}
    VERBATIM)
  list(APPEND QL_COMPRESSED_MAN_PAGES ${QL_PACKAGE_BUILD_DIR}/${page}.gz)
  string(REGEX REPLACE ".*\\." "" section ${page})
  install(FILES ${QL_PACKAGE_BUILD_DIR}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()

# The Debian changelog of this native package, from the project version.
string(TIMESTAMP QL_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${QL_PACKAGING_DIR}/changelog.in ${QL_PACKAGE_BUILD_DIR}/changelog @ONLY)
add_custom_command(
  OUTPUT ${QL_PACKAGE_BUILD_DIR}/changelog.gz
  COMMAND gzip -9nf -k ${QL_PACKAGE_BUILD_DIR}/changelog
  DEPENDS ${QL_PACKAGE_BUILD_DIR}/changelog
  VERBATIM)
add_custom_target(ql_package_docs ALL DEPENDS ${QL_COMPRESSED_MAN_PAGES}
                                              ${QL_PACKAGE_BUILD_DIR}/changelog.gz)
install(FILES ${QL_PACKAGE_BUILD_DIR}/changelog.gz ${QL_PACKAGING_DIR}/copyright
        DESTINATION ${QL_DOC_DIR})

# systemd units, the tmpfiles rule and the options file. Debian 12 keeps
# units in /lib/systemd/system.
# The socket unit and the tmpfiles rule name the socket as src/protocol does.
configure_file(${QL_PACKAGING_DIR}/quorlin_gd.socket ${QL_PACKAGE_BUILD_DIR}/quorlin_gd.socket
               @ONLY)
configure_file(${QL_PACKAGING_DIR}/quorlin_gd.tmpfiles ${QL_PACKAGE_BUILD_DIR}/quorlin_gd.tmpfiles
               @ONLY)
install(FILES ${QL_PACKAGING_DIR}/quorlin_gd.service ${QL_PACKAGE_BUILD_DIR}/quorlin_gd.socket
        DESTINATION /lib/systemd/system)
install(FILES ${QL_PACKAGE_BUILD_DIR}/quorlin_gd.tmpfiles DESTINATION /usr/lib/tmpfiles.d
        RENAME quorlin_gd.conf)
install(FILES ${QL_PACKAGING_DIR}/quorlin_gd.default DESTINATION /etc/default
        RENAME quorlin_gd)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${QL_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${QL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "thumbnail helper daemon of the storage device")
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Other services of the device ask this daemon, over a local socket, for PNG\n"
    "thumbnails of stored pictures (JPEG, PNG, GIF, BMP, WBMP) and of the cover\n"
    "art of MP3 files. Thumbnails are cached next to the storage; other files\n"
    "get a thumbnail of one of five default pictures.\n"
    "\n"
    "The package holds the daemon, a command-line client, a tool that makes a\n"
    "whole library's thumbnails ahead of time, the default pictures\n"
    "and systemd units for a socket-activated, sandboxed service.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends on the libraries the programs link (libgd, libjpeg, liblcms2-2...)
# as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The maintainer scripts create the account with adduser.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${QL_PACKAGING_DIR}/conffiles ${QL_PACKAGING_DIR}/postinst ${QL_PACKAGING_DIR}/prerm
    ${QL_PACKAGING_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_SOURCE_IGNORE_FILES "/build.*/" "/\\\\.git/")
include(CPack)
