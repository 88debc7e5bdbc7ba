# Included by cmake/CPackProject.cmake before cpack builds the Debian package:
# the package's library dependencies, worked out by dpkg-shlibdeps from the
# three programs. (cpack's own way runs `file` on every one of the package's
# nine hundred files.)
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_ATV_SHLIBDEPS)
  set(work "${CPACK_ATV_SHLIBDEPS_DIR}")
  file(MAKE_DIRECTORY "${work}/debian")
  file(WRITE "${work}/debian/control" "")
  execute_process(COMMAND "${CPACK_ATV_SHLIBDEPS}" -O ${CPACK_ATV_PROGRAM_FILES}
    WORKING_DIRECTORY "${work}"
    OUTPUT_VARIABLE shlibs OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_VARIABLE warnings
    COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX REPLACE "^shlibs:Depends=" "" shlibs "${shlibs}")
  if(NOT shlibs MATCHES "libc6")
    message(FATAL_ERROR "dpkg-shlibdeps found no libraries: ${shlibs} ${warnings}")
  endif()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${shlibs}, ${CPACK_DEBIAN_PACKAGE_DEPENDS}")
endif()
