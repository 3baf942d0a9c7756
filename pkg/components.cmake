# Read by cpack: the components that each kind of package holds.
if(CPACK_GENERATOR STREQUAL "RPM")
  set(CPACK_COMPONENTS_ALL bin man rpm)
else()
  set(CPACK_COMPONENTS_ALL bin deb)
endif()
