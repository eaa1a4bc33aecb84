# Installation layout, in two components that packaging/build-debs turns into two packages:
#   quillfen      the console-only program (no Qt, no X): lib/quillfen/quillfen, bin/quillfen
#   quillfen-gui  the program with the window: lib/quillfen/quillfen-gui, bin/quillfen-gui
#
# Quillfen reads Config.ini beside its executable. Both installed programs live in one folder,
# lib/quillfen, whose Config.ini is a link to <sysconfdir>/quillfen/Config.ini (/etc/quillfen for
# the prefix /usr or /, <prefix>/etc/quillfen otherwise), where an administrator expects it; the
# first start writes the template through that link. Further jobs are settings files named with
# -c (the units quillfen@<job> read /etc/quillfen/<job>.ini); a user who wants a backup job of
# their own names a file of their own with -c, or copies the program and keeps a Config.ini
# beside the copy.
set(QUILLFEN_PROGRAM_DIR lib/quillfen)
set(QUILLFEN_DOC_DIR share/doc/quillfen)

if(TARGET quillfen_headless)
  install(TARGETS quillfen_headless RUNTIME DESTINATION ${QUILLFEN_PROGRAM_DIR} COMPONENT quillfen)
  install(PROGRAMS $<TARGET_FILE:quillfen> DESTINATION ${QUILLFEN_PROGRAM_DIR}
          RENAME quillfen-gui COMPONENT quillfen-gui)
  install(FILES docs/quillfen-gui.1 DESTINATION share/man/man1 COMPONENT quillfen-gui)
  install(CODE "
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
    file(CREATE_LINK ../${QUILLFEN_PROGRAM_DIR}/quillfen-gui
         \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/quillfen-gui\" SYMBOLIC)
  " COMPONENT quillfen-gui)
else()
  install(TARGETS quillfen RUNTIME DESTINATION ${QUILLFEN_PROGRAM_DIR} COMPONENT quillfen)
endif()

# The configuration folder is made here only for an installation straight into its prefix; a
# staged one (DESTDIR, for a package) leaves it to the package's postinst.
install(CODE "
  set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
  if(prefix STREQUAL \"/usr\" OR prefix STREQUAL \"/\")
    set(config_dir /etc/quillfen)
  else()
    set(config_dir \"\${prefix}/etc/quillfen\")
  endif()
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${prefix}/bin\")
  file(CREATE_LINK ../${QUILLFEN_PROGRAM_DIR}/quillfen
       \"\$ENV{DESTDIR}\${prefix}/bin/quillfen\" SYMBOLIC)
  file(CREATE_LINK \"\${config_dir}/Config.ini\"
       \"\$ENV{DESTDIR}\${prefix}/${QUILLFEN_PROGRAM_DIR}/Config.ini\" SYMBOLIC)
  if(\"\$ENV{DESTDIR}\" STREQUAL \"\" AND NOT EXISTS \"\${config_dir}\")
    file(MAKE_DIRECTORY \"\${config_dir}\")
    file(CHMOD \"\${config_dir}\" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  endif()
" COMPONENT quillfen)
install(FILES docs/quillfen.1 DESTINATION share/man/man1 COMPONENT quillfen)
# The units go here as well: packaging/build-debs moves them where systemd looks. Config.ini here
# is the commented example of every key, not a template the program reads.
install(FILES packaging/systemd/quillfen.service packaging/systemd/quillfen.timer
              packaging/systemd/quillfen@.service packaging/systemd/quillfen@.timer
              packaging/cron/quillfen packaging/examples/Config.ini
        DESTINATION ${QUILLFEN_DOC_DIR}/examples COMPONENT quillfen)
install(FILES README.md DESTINATION ${QUILLFEN_DOC_DIR} COMPONENT quillfen)
