# Debian's hardening build flags for the optimised builds: those the
# package is made from and those the tests and benchmarks run. dpkg-buildflags
# gives them (fortified functions, stack protector, format checks, read-only
# relocations bound at start); the build type keeps choosing the
# optimisation and debug information. Sanitizer and fuzzing builds stay
# without them: the sanitizers do that checking there.
if(NOT ATV_SANITIZE AND NOT ATV_FUZZ AND CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
  find_program(ATV_DPKG_BUILDFLAGS dpkg-buildflags)
  if(ATV_DPKG_BUILDFLAGS)
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
      execute_process(
        COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all "DEB_CXXFLAGS_MAINT_STRIP=-g -O2"
                ${ATV_DPKG_BUILDFLAGS} --get ${kind}
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE
        COMMAND_ERROR_IS_FATAL ANY)
      separate_arguments(flags UNIX_COMMAND "${flags}")
      if(kind STREQUAL LDFLAGS)
        add_link_options(${flags})
      else()
        add_compile_options(${flags})
      endif()
    endforeach()
  else()
    message(STATUS "dpkg-buildflags was not found: built without Debian's hardening flags")
  endif()
  # No folder of this machine in what the compiler writes (__FILE__, debug
  # information): the sources are named from the source folder as ./, the
  # generated ones (moc, rcc, version.h) from the build folder as build/,
  # so two checkouts or build folders make the same programs. The later
  # option wins where both match, as for a build folder inside the checkout.
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
endif()
