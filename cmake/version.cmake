# The project version above is the only place the version is written: the
# programs read it from a generated header, the package from CMake, and the
# package check compares it with the changelog's top entry.
#
# The sources' time, for the about box and the package's file times, is
# SOURCE_DATE_EPOCH when set, else the last commit's time: the same sources
# always give the same bytes.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ZEL_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git log -1 --format=%ct
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE ZEL_SOURCE_DATE_EPOCH
                  OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET)
endif()
if(NOT ZEL_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  # A tarball without history: a fixed time rather than the clock.
  set(ZEL_SOURCE_DATE_EPOCH 0)
endif()

set(ZEL_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/veldmark_version.h.in ${ZEL_GENERATED_DIR}/veldmark_version.h @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/source_date.h.in ${ZEL_GENERATED_DIR}/source_date.h @ONLY)
# Two headers, so that a new commit rebuilds only what shows the sources' time.
add_library(veldmark_version INTERFACE)
target_include_directories(veldmark_version INTERFACE ${ZEL_GENERATED_DIR})
