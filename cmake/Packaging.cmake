# Installation and the Debian package.
#
# `cmake --install` lays out one self-contained program folder: the install
# prefix itself holds AddTarnVel, addtarnvel-cli, dbquery and the carrier's
# files with Data/ (component Program), exactly as the build's bin folder
# does, less the working zones database the build makes there: a run imports
# the zone chart into a zones database of its own in a private temporary
# folder, so the program folder is read-only input and an installation lays
# out nothing anybody writes. Folders get 0755 (a umask narrower than 022
# narrows the folders cmake makes; ./package sets 022), data files 0644 and
# programs 0755. The desktop side (the commands in /usr/bin, the
# menu entry, its icons, the AppStream description and the manual pages) is
# the component Desktop, installed only when asked for (`--component
# Desktop`, as root) and by the package; the component Package adds what
# only the package ships (its documentation folder and its one lintian
# override).
#
# `cpack` (./package) builds the Debian package with the program folder
# /usr/lib/addtarnvel: the programs find the carrier's files beside their own
# program file, so programs and carrier files stay together in one private
# folder of the package, and /usr/bin holds links to the programs. A hand
# installation defaults to /opt/addtarnvel instead, away from the folders
# dpkg keeps.

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /opt/addtarnvel CACHE PATH "The program folder an installation lays out" FORCE)
endif()
set(ATV_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${ATV_DIRECTORY_PERMISSIONS})

set(ATV_PACKAGE_FOLDER /usr/lib/addtarnvel)
set(atv_pkg_dir ${CMAKE_BINARY_DIR}/packaging)
set(atv_programs AddTarnVel addtarnvel-cli dbquery)
# The commands in /usr/bin: lower-case and prefixed, each a link to the
# program of the same place in atv_programs, which keeps its own name.
set(atv_commands addtarnvel addtarnvel-cli addtarnvel-dbquery)
find_program(ATV_GZIP gzip REQUIRED)

# Reproducible packages: everything that takes a time takes the date of the
# changelog's latest entry (SOURCE_DATE_EPOCH), never the clock or a file's
# own time. help2man gets it here and cpack in cmake/CPackProject.cmake (the
# times of the files and members of the .deb); ./package also exports it
# for the whole build, where rcc stamps the window's icons with it. gzip
# runs with -n (no name, no time).
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog)
find_program(ATV_DPKG_PARSECHANGELOG dpkg-parsechangelog)
if(ATV_DPKG_PARSECHANGELOG)
  execute_process(COMMAND ${ATV_DPKG_PARSECHANGELOG} -STimestamp -l ${PROJECT_SOURCE_DIR}/packaging/changelog
    OUTPUT_VARIABLE ATV_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
else()
  # The trailer line of the first entry: " -- NAME <ADDRESS>  DATE".
  file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog trailer REGEX "^ -- .*>  " LIMIT_COUNT 1)
  string(REGEX REPLACE "^ -- .*>  " "" date "${trailer}")
  execute_process(COMMAND date -u -d "${date}" +%s
    OUTPUT_VARIABLE ATV_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
endif()
if(NOT ATV_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "packaging/changelog gives no date: '${ATV_SOURCE_DATE_EPOCH}'")
endif()

# Manual pages: the window's is written by hand; the others are made by
# help2man from the programs' own --help and --version.
find_program(ATV_HELP2MAN help2man)
set(atv_man_pages ${atv_pkg_dir}/man/addtarnvel.1.gz)
add_custom_command(OUTPUT ${atv_pkg_dir}/man/addtarnvel.1.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${atv_pkg_dir}/man
  COMMAND ${ATV_GZIP} -9nc ${PROJECT_SOURCE_DIR}/packaging/addtarnvel.1 > ${atv_pkg_dir}/man/addtarnvel.1.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/addtarnvel.1
  COMMENT "Compressing the manual page addtarnvel(1)")
set(atv_man_name_addtarnvel-cli "add the TARN-VEL service to a Mailvoro shop database without a window")
set(atv_man_name_addtarnvel-dbquery "run one SQL statement on a database file, or make a database from a script")
set(atv_man_program_addtarnvel-cli addtarnvel-cli)
set(atv_man_program_addtarnvel-dbquery dbquery)
if(ATV_HELP2MAN)
  foreach(command addtarnvel-cli addtarnvel-dbquery)
    set(program ${atv_man_program_${command}})
    set(page ${atv_pkg_dir}/man/${command}.1)
    string(TOUPPER ${command} title)
    # The page speaks of the command in /usr/bin, also where the program's
    # own help gives the program folder's name.
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${atv_pkg_dir}/man
      COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C TZ=UTC SOURCE_DATE_EPOCH=${ATV_SOURCE_DATE_EPOCH}
              ${ATV_HELP2MAN} --no-info --section=1 "--name=${atv_man_name_${command}}"
              --include=${PROJECT_SOURCE_DIR}/packaging/${command}.h2m --output=${page} $<TARGET_FILE:${program}>
      COMMAND sed -E -i -e "s/^\\.TH [A-Z-]+/.TH ${title}/" -e "s@(^|[^/a-z-])${program}\\b@\\1${command}@g" ${page}
      COMMAND ${ATV_GZIP} -9nf ${page}
      DEPENDS ${program} ${PROJECT_SOURCE_DIR}/packaging/${command}.h2m ${PROJECT_SOURCE_DIR}/packaging/changelog
      COMMENT "Making the manual page ${command}(1)"
      VERBATIM)
    list(APPEND atv_man_pages ${page}.gz)
  endforeach()
else()
  message(STATUS "help2man was not found: no manual pages for addtarnvel-cli and addtarnvel-dbquery (./package installs it)")
endif()

# The package's documentation folder: its changelog is kept compressed.
add_custom_command(OUTPUT ${atv_pkg_dir}/doc/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${atv_pkg_dir}/doc
  COMMAND ${ATV_GZIP} -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > ${atv_pkg_dir}/doc/changelog.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
  COMMENT "Compressing the package's changelog")
add_custom_target(desktop_files ALL DEPENDS ${atv_man_pages} ${atv_pkg_dir}/doc/changelog.gz)
add_dependencies(desktop_files atv_icons)

# The Desktop component.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/addtarnvel.desktop
  DESTINATION /usr/share/applications COMPONENT Desktop EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/org.addtarnvel.addtarnvel.metainfo.xml
  DESTINATION /usr/share/metainfo COMPONENT Desktop EXCLUDE_FROM_ALL)
foreach(size ${ATV_ICON_SIZES})
  install(FILES ${ATV_ICON_DIR}/${size}x${size}.png
    DESTINATION /usr/share/icons/hicolor/${size}x${size}/apps RENAME addtarnvel.png
    COMPONENT Desktop EXCLUDE_FROM_ALL)
endforeach()
install(FILES ${ATV_ICON_SVG} DESTINATION /usr/share/icons/hicolor/scalable/apps RENAME addtarnvel.svg
  COMPONENT Desktop EXCLUDE_FROM_ALL)
if(atv_man_pages)
  install(FILES ${atv_man_pages} DESTINATION /usr/share/man/man1 COMPONENT Desktop EXCLUDE_FROM_ALL)
endif()
# The real programs stay in the program folder (it is found from the running
# file), so /usr/bin gets links to them, never copies: relative ones to a
# program folder under /usr (the package's), absolute ones elsewhere, as
# Debian policy has them.
foreach(program command IN ZIP_LISTS atv_programs atv_commands)
  install(CODE "
    set(target \"\${CMAKE_INSTALL_PREFIX}/${program}\")
    if(target MATCHES \"^/usr/\")
      file(RELATIVE_PATH target /usr/bin \"\${target}\")
    endif()
    if(NOT IS_DIRECTORY \"\$ENV{DESTDIR}/usr/bin\")
      file(MAKE_DIRECTORY \"\$ENV{DESTDIR}/usr/bin\")
      file(CHMOD \"\$ENV{DESTDIR}/usr/bin\" DIRECTORY_PERMISSIONS ${ATV_DIRECTORY_PERMISSIONS})
    endif()
    message(STATUS \"Linking: \$ENV{DESTDIR}/usr/bin/${command} -> \${target}\")
    file(CREATE_LINK \"\${target}\" \"\$ENV{DESTDIR}/usr/bin/${command}\" SYMBOLIC)"
    COMPONENT Desktop EXCLUDE_FROM_ALL)
endforeach()

# The Package component.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/README.operators
  DESTINATION /usr/share/doc/addtarnvel RENAME README COMPONENT Package EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${atv_pkg_dir}/doc/changelog.gz
  DESTINATION /usr/share/doc/addtarnvel COMPONENT Package EXCLUDE_FROM_ALL)
# One lintian override, for one file; packaging/lintian-overrides says why.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
  DESTINATION /usr/share/lintian/overrides RENAME addtarnvel COMPONENT Package EXCLUDE_FROM_ALL)

# A stripped installation (`--strip`, and the package) also drops the
# compiler's .comment and .note sections, as Debian's own tools do.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program ${atv_programs})
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${program}\" COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()"
  COMPONENT Program)

# What an installation holds. `package_files` builds just that, and
# installing (and cpack) does not build the whole tree with its tests first:
# build before installing.
add_custom_target(package_files)
add_dependencies(package_files ${atv_programs} carrier_files desktop_files)
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# The Debian package. Its one maintainer script, postinst, gives the program
# folder back to root on configure; the package makes nothing beyond its
# files, so purge has nothing of its own to remove and there is no postrm.
set(ATV_PROGRAM_FOLDER ${ATV_PACKAGE_FOLDER})
configure_file(${PROJECT_SOURCE_DIR}/packaging/postinst.in ${atv_pkg_dir}/control/postinst @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME addtarnvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "AddTarnVel")
set(CPACK_PACKAGE_CONTACT "AddTarnVel maintainers <maintainers@addtarnvel.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "adds the TARN-VEL ground service to a Mailvoro shop database")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "AddTarnVel installs the TARN-VEL ground service into a Mailvoro shop's
shipping database: it imports the zone chart of the shop's origin ZIP code,
copies the carrier's files next to the shop database and adds the service
to [Master] and to a [Panel] button. The window is addtarnvel;
addtarnvel-cli runs an installation without a window, and
addtarnvel-dbquery queries a database file.")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://addtarnvel.org/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries (Qt 6 Widgets, SQLite) are worked out by dpkg-shlibdeps where
# it is installed (cmake/DebDepends.cmake), else named here. qt6-qpa-plugins
# holds the X11 and Wayland platform plugins without which the window cannot
# open.
find_program(ATV_DPKG_SHLIBDEPS dpkg-shlibdeps)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/CPackProject.cmake)
set(CPACK_ATV_SOURCE_DATE_EPOCH ${ATV_SOURCE_DATE_EPOCH})
if(ATV_DPKG_SHLIBDEPS)
  set(CPACK_ATV_SHLIBDEPS ${ATV_DPKG_SHLIBDEPS})
  set(CPACK_ATV_SHLIBDEPS_DIR ${atv_pkg_dir}/shlibdeps)
  set(CPACK_ATV_PROGRAM_FILES "")
  foreach(program ${atv_programs})
    list(APPEND CPACK_ATV_PROGRAM_FILES ${ATV_PROGRAM_DIR}/${program})
  endforeach()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libqt6widgets6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6core6 (>= 6.4), qt6-qpa-plugins, libsqlite3-0 (>= 3.35)")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${atv_pkg_dir}/control/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES TRUE)
# The folders cpack itself makes for the package are 0755 too.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${ATV_DIRECTORY_PERMISSIONS})
# Absolute destinations (/usr/bin, /usr/share) need DESTDIR staging.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX ${ATV_PACKAGE_FOLDER})
set(CPACK_PACKAGING_INSTALL_PREFIX ${ATV_PACKAGE_FOLDER})
set(CPACK_INSTALL_CMAKE_PROJECTS
  ${CMAKE_BINARY_DIR} ${PROJECT_NAME} Program /
  ${CMAKE_BINARY_DIR} ${PROJECT_NAME} Desktop /
  ${CMAKE_BINARY_DIR} ${PROJECT_NAME} Package /)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
include(CPack)
