# Debian's hardening flags, as dpkg-buildflags gives them to every package
# (hardening=+all: stack protector, _FORTIFY_SOURCE, read-only relocations
# bound at load time, position-independent executables), for every program,
# library and test of this build. The Debian package is made from this build
# folder (cpack), so what it ships is built hardened; scripts/check-install
# checks the result with hardening-check.
#
# The build type keeps its own optimisation and debug flags (-O, -g are left
# out of dpkg-buildflags' answer), and _FORTIFY_SOURCE, which needs an
# optimised build, is left out of Debug builds. Off by default in the
# sanitizer build: its run-time checks cover the same ground, and the
# fortified libc calls would slip past some of AddressSanitizer's checks.
# DEB_CXXFLAGS_APPEND and the like in the environment apply, as in any Debian
# build.
if(VELMOR_SANITIZE)
  set(_velmor_hardening_default OFF)
else()
  set(_velmor_hardening_default ON)
endif()
option(VELMOR_HARDENING "Build with Debian's hardening flags (dpkg-buildflags)" ${_velmor_hardening_default})

if(VELMOR_HARDENING)
  find_program(VELMOR_DPKG_BUILDFLAGS dpkg-buildflags)
  if(NOT VELMOR_DPKG_BUILDFLAGS)
    message(FATAL_ERROR "VELMOR_HARDENING needs dpkg-buildflags (package dpkg-dev); "
      "or configure with -DVELMOR_HARDENING=OFF")
  endif()
  set(_velmor_flags)
  foreach(_kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env "DEB_BUILD_MAINT_OPTIONS=hardening=+all reproducible=-all"
              ${VELMOR_DPKG_BUILDFLAGS} --get ${_kind}
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE _value OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE _result)
    if(NOT _result EQUAL 0)
      message(FATAL_ERROR "dpkg-buildflags --get ${_kind} failed (${_result})")
    endif()
    separate_arguments(_value UNIX_COMMAND "${_value}")
    set(VELMOR_HARDENING_${_kind})
    foreach(_flag IN LISTS _value)
      if(_flag MATCHES "^-(O.*|g.*)$")
        continue()
      elseif(_flag MATCHES "^-D_FORTIFY_SOURCE")
        list(APPEND VELMOR_HARDENING_${_kind} "$<$<NOT:$<CONFIG:Debug>>:${_flag}>")
      else()
        list(APPEND VELMOR_HARDENING_${_kind} "${_flag}")
      endif()
    endforeach()
  endforeach()
  add_compile_options(${VELMOR_HARDENING_CPPFLAGS} ${VELMOR_HARDENING_CXXFLAGS})
  add_link_options(${VELMOR_HARDENING_LDFLAGS})
  # Executables are linked as PIE explicitly, not only by the compiler's default.
  include(CheckPIESupported)
  check_pie_supported(LANGUAGES CXX)
  message(STATUS "Hardening flags: ${VELMOR_HARDENING_CPPFLAGS} ${VELMOR_HARDENING_CXXFLAGS} / ${VELMOR_HARDENING_LDFLAGS}")
endif()
