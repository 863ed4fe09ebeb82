# Read by cpack for each generator (CPACK_PROJECT_CONFIG_FILE).
# The zip is named for its version and unpacks to one folder, "custdisp";
# the installer is named for its version too.
if(CPACK_GENERATOR STREQUAL "ZIP")
  set(CPACK_PACKAGE_FILE_NAME custdisp-${CPACK_PACKAGE_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_PACKAGING_INSTALL_PREFIX /custdisp)
elseif(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME custdisp-${CPACK_PACKAGE_VERSION}-win64-setup)
endif()
# The tests are a component of their own, installed only to run them. The
# installer installs as the zip does, everything but them, in one piece: it
# has no components to choose from, and no page to choose them on.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_MONOLITHIC_INSTALL ON)
endif()
