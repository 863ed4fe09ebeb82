# Read by cpack for each generator (CPACK_PROJECT_CONFIG_FILE).
# The zip is named for its version and unpacks to one folder, "custdisp".
if(CPACK_GENERATOR STREQUAL "ZIP")
  set(CPACK_PACKAGE_FILE_NAME custdisp-${CPACK_PACKAGE_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_PACKAGING_INSTALL_PREFIX /custdisp)
endif()
