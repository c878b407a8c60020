# Read by cpack while it builds a package: the Python package velmor in it
# needs the system's Python 3 (Debian 12 has 3.11).
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_DEBIAN_PACKAGE_DEPENDS MATCHES "(^|[ ,])python3([ ,(]|$)")
  if(CPACK_DEBIAN_PACKAGE_DEPENDS)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", python3 (>= 3.11)")
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3 (>= 3.11)")
  endif()
endif()
