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
# The tests are a component of their own, installed only to run them; the
# installer, which would offer every component, offers none of them.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_COMPONENTS_ALL Unspecified)
endif()
