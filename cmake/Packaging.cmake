# Installation and the Debian package.
#
# `cmake --install` lays out one self-contained program folder: the install
# prefix itself holds AddTarnVel, addtarnvel-cli, dbquery and the carrier's
# files with Data/ (components Program and WorkingZones), exactly as the
# build's bin folder does. The desktop side (links in /usr/bin, the menu
# entry, its icons and the manual pages) is the component Desktop, installed
# only when asked for (`--component Desktop`, as root) and by the package.
#
# `cpack` (./package) builds the Debian package: program folder /opt/addtarnvel,
# the Desktop component, and instead of the working zones database a link to
# a copy in /var/lib/addtarnvel that the group addtarnvel may write.

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /opt/addtarnvel CACHE PATH "The program folder an installation lays out" FORCE)
endif()

set(ATV_PACKAGE_FOLDER /opt/addtarnvel)
set(ATV_STATE_DIR /var/lib/addtarnvel)
set(ATV_GROUP addtarnvel)
set(atv_pkg_dir ${CMAKE_BINARY_DIR}/packaging)
set(atv_programs AddTarnVel addtarnvel-cli dbquery)

# Icons in the sizes desktops ask for, drawn from the window's own icon.
set(atv_icon_sizes 16 32 48 64 128 256)
set(atv_icons "")
foreach(size ${atv_icon_sizes})
  list(APPEND atv_icons ${atv_pkg_dir}/icons/${size}x${size}.png)
endforeach()
add_custom_command(OUTPUT ${atv_icons}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${atv_pkg_dir}/icons
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:makeicons> ${atv_pkg_dir}/icons ${atv_icon_sizes}
  DEPENDS makeicons ${PROJECT_SOURCE_DIR}/app/AddTarnVel.xpm
  COMMENT "Rendering the menu icons"
  VERBATIM)

# Manual pages, made by help2man from the programs' own --help and --version.
find_program(ATV_HELP2MAN help2man)
find_program(ATV_GZIP gzip)
set(atv_man_pages "")
set(atv_man_name_addtarnvel-cli "add the TARN-VEL service to a Mailvoro shop database without a window")
set(atv_man_name_dbquery "run one SQL statement on a database file, or make a database from a script")
if(ATV_HELP2MAN AND ATV_GZIP)
  foreach(program addtarnvel-cli dbquery)
    set(page ${atv_pkg_dir}/man/${program}.1)
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${atv_pkg_dir}/man
      COMMAND ${ATV_HELP2MAN} --no-info --section=1 "--name=${atv_man_name_${program}}"
              --include=${PROJECT_SOURCE_DIR}/packaging/${program}.h2m --output=${page} $<TARGET_FILE:${program}>
      COMMAND ${ATV_GZIP} -9nf ${page}
      DEPENDS ${program} ${PROJECT_SOURCE_DIR}/packaging/${program}.h2m
      COMMENT "Making the manual page ${program}(1)"
      VERBATIM)
    list(APPEND atv_man_pages ${page}.gz)
  endforeach()
else()
  message(STATUS "help2man was not found: no manual pages (./package installs it)")
endif()
add_custom_target(desktop_files ALL DEPENDS ${atv_icons} ${atv_man_pages})

# The Desktop component.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/addtarnvel.desktop
  DESTINATION /usr/share/applications COMPONENT Desktop EXCLUDE_FROM_ALL)
foreach(size ${atv_icon_sizes})
  install(FILES ${atv_pkg_dir}/icons/${size}x${size}.png
    DESTINATION /usr/share/icons/hicolor/${size}x${size}/apps RENAME addtarnvel.png
    COMPONENT Desktop EXCLUDE_FROM_ALL)
endforeach()
if(atv_man_pages)
  install(FILES ${atv_man_pages} DESTINATION /usr/share/man/man1 COMPONENT Desktop EXCLUDE_FROM_ALL)
endif()
# The real programs stay in the program folder (it is found from the running
# file), so /usr/bin gets links to them, never copies.
foreach(program ${atv_programs})
  install(CODE "
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}/usr/bin\")
    message(STATUS \"Linking: \$ENV{DESTDIR}/usr/bin/${program} -> \${CMAKE_INSTALL_PREFIX}/${program}\")
    file(CREATE_LINK \"\${CMAKE_INSTALL_PREFIX}/${program}\" \"\$ENV{DESTDIR}/usr/bin/${program}\" SYMBOLIC)"
    COMPONENT Desktop EXCLUDE_FROM_ALL)
endforeach()

# The component SharedZones (package only): the program folder's working
# zones database is a link into ${ATV_STATE_DIR}; postinst makes that copy.
install(CODE "
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  file(CREATE_LINK \"${ATV_STATE_DIR}/TarnVel_Zones.mdb\" \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/TarnVel_Zones.mdb\" SYMBOLIC)"
  COMPONENT SharedZones EXCLUDE_FROM_ALL)

# What an installation holds. `package_files` builds just that, and
# installing (and cpack) does not build the whole tree with its tests first:
# build before installing.
add_custom_target(package_files)
add_dependencies(package_files ${atv_programs} carrier_files desktop_files)
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# The Debian package.
set(ATV_PROGRAM_FOLDER ${ATV_PACKAGE_FOLDER})
foreach(script postinst postrm)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/${script}.in ${atv_pkg_dir}/control/${script} @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME addtarnvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "AddTarnVel")
set(CPACK_PACKAGE_CONTACT "AddTarnVel maintainers <addtarnvel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "adds the TARN-VEL ground service to a Mailvoro shop database")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "AddTarnVel installs the TARN-VEL ground service into a Mailvoro shop's
shipping database: it imports the zone chart of the shop's origin ZIP code,
copies the carrier's files next to the shop database and adds the service
to [Master] and to a [Panel] button. The window is AddTarnVel; addtarnvel-cli
runs an installation without a window, and dbquery queries a database file.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries (Qt 6 Widgets, SQLite) are worked out by dpkg-shlibdeps where
# it is installed, else named here. qt6-qpa-plugins holds the X11 and Wayland
# platform plugins without which the window cannot open; passwd has groupadd
# for postinst.
find_program(ATV_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(ATV_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, passwd")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libqt6widgets6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6core6 (>= 6.4), qt6-qpa-plugins, libsqlite3-0 (>= 3.35), passwd")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${atv_pkg_dir}/control/postinst ${atv_pkg_dir}/control/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES TRUE)
# Absolute destinations (/usr/bin, /usr/share) need DESTDIR staging.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX ${ATV_PACKAGE_FOLDER})
set(CPACK_PACKAGING_INSTALL_PREFIX ${ATV_PACKAGE_FOLDER})
set(CPACK_INSTALL_CMAKE_PROJECTS
  ${CMAKE_BINARY_DIR} ${PROJECT_NAME} Program /
  ${CMAKE_BINARY_DIR} ${PROJECT_NAME} Desktop /
  ${CMAKE_BINARY_DIR} ${PROJECT_NAME} SharedZones /)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
include(CPack)
