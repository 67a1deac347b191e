# Run by `cpack -G DEB` on the staged tree just before it is packed, for what
# only the Debian package wants and a plain `cmake --install` should not get:
# lintian's overrides, and the stripped tool without the .comment and .note
# sections that `strip` leaves (as dh_strip would remove them), for each
# program.

set(usr "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
# Not file(INSTALL): that would put DESTDIR, still set by cpack, in front.
file(MAKE_DIRECTORY "${usr}/share/lintian/overrides")
file(COPY_FILE "${CPACK_QUARVEND_SOURCE_DIR}/packaging/lintian-overrides"
     "${usr}/share/lintian/overrides/quarvend")
foreach(program quarvend quarvend-encode)
  execute_process(
    COMMAND "${CPACK_QUARVEND_OBJCOPY}" --remove-section=.comment --remove-section=.note
            "${usr}/bin/${program}"
    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
