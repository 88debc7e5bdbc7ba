# Read by cpack before it builds the package (CPACK_PROJECT_CONFIG_FILE).
#
# The .deb is the same from one run to the next: cpack stamps every file and
# folder of the data and control archives, and the members of the .deb
# itself, with SOURCE_DATE_EPOCH, set here to the changelog's date
# (cmake/Packaging.cmake) whoever runs cpack; gzip headers carry no time.
if(CPACK_ATV_SOURCE_DATE_EPOCH)
  set(ENV{SOURCE_DATE_EPOCH} "${CPACK_ATV_SOURCE_DATE_EPOCH}")
endif()

# The package's library dependencies.
include("${CMAKE_CURRENT_LIST_DIR}/DebDepends.cmake")
