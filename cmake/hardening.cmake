# Debian's hardening flags for everything built here (stack protector,
# fortified libc calls, format checks, read-only relocations bound at start),
# taken from dpkg-buildflags so they follow the distribution's policy. They
# stay out of the sanitizer and fuzz builds, whose instrumentation they
# disturb, and out of builds for other systems.
# -ffile-prefix-map (also from dpkg-buildflags) keeps the build folder out of
# the binaries and their debug symbols.
if(ZEL_SANITIZE OR ZEL_FUZZ OR WIN32)
  set(ZEL_HARDENING_DEFAULT OFF)
else()
  set(ZEL_HARDENING_DEFAULT ON)
endif()
option(ZEL_HARDENING "Build with the distribution's hardening flags (dpkg-buildflags)" ${ZEL_HARDENING_DEFAULT})

if(ZEL_HARDENING)
  find_program(DPKG_BUILDFLAGS dpkg-buildflags)
  if(NOT DPKG_BUILDFLAGS)
    message(FATAL_ERROR "ZEL_HARDENING needs dpkg-buildflags (package dpkg-dev); "
                        "configure with -DZEL_HARDENING=OFF to build without")
  endif()
  foreach(kind CPPFLAGS CFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
              ${DPKG_BUILDFLAGS} --get ${kind}
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE ZEL_${kind}
      OUTPUT_STRIP_TRAILING_WHITESPACE
      COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
  string(APPEND CMAKE_C_FLAGS " ${ZEL_CPPFLAGS} ${ZEL_CFLAGS}")
  string(APPEND CMAKE_CXX_FLAGS " ${ZEL_CPPFLAGS} ${ZEL_CXXFLAGS}")
  foreach(kind EXE SHARED MODULE)
    string(APPEND CMAKE_${kind}_LINKER_FLAGS " ${ZEL_LDFLAGS}")
  endforeach()
endif()
