# Installation layout and the Debian package.
#
# Quillfen reads Config.ini beside its executable. An installed binary lives in its own
# folder, /usr/lib/quillfen, whose Config.ini is a link to /etc/quillfen/Config.ini, where an
# administrator expects it; /usr/bin/quillfen links to the binary. A user who wants a backup job
# of their own copies the binary into a folder they own and keeps a Config.ini beside the copy.
include(GNUInstallDirs)

set(QUILLFEN_PROGRAM_DIR ${CMAKE_INSTALL_LIBDIR}/quillfen)
install(TARGETS quillfen RUNTIME DESTINATION ${QUILLFEN_PROGRAM_DIR})
install(CODE "
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  file(CREATE_LINK ../${QUILLFEN_PROGRAM_DIR}/quillfen
       \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/quillfen\" SYMBOLIC)
  file(CREATE_LINK /etc/quillfen/Config.ini
       \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${QUILLFEN_PROGRAM_DIR}/Config.ini\" SYMBOLIC)
")
install(FILES docs/quillfen.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/systemd/quillfen.service packaging/systemd/quillfen.timer
              packaging/cron/quillfen
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillfen)
set(CPACK_PACKAGE_CONTACT "Quillfen developers <dev@quillfen.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "unattended backup of an FTP directory or folder into dated folders")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian/postinst)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
