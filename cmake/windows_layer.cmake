# The Windows build made here. Qt 5 and libusb are not packaged for mingw on
# Debian: without ZEL_WINDOWS_SDK it holds what lies below them (the upgrade
# library, the image builder and the platform layer's Windows half) and their
# tests; with the SDK that scripts/windows_sdk.sh builds from Debian's sources
# it holds the four programs as well. Everything runs under wine.
set(ZEL_WINDOWS_SDK "" CACHE PATH "Prefix made by scripts/windows_sdk.sh (qt/, libusb/)")

# 64-bit file offsets: mingw's off_t is 32-bit otherwise, and images pass 2 GiB.
add_compile_definitions(_FILE_OFFSET_BITS=64 WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE)
# Programs that run under wine without mingw's runtime DLLs beside them.
add_link_options(-static)

# zlib linked in: wine has a zlib1.dll of its own, a Windows PC does not.
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)
find_package(Threads REQUIRED)

if(ZEL_WINDOWS_SDK)
  list(APPEND CMAKE_FIND_ROOT_PATH ${ZEL_WINDOWS_SDK}/qt ${ZEL_WINDOWS_SDK}/libusb)
  set(CMAKE_PREFIX_PATH ${ZEL_WINDOWS_SDK}/qt)
  find_package(Qt5 5.15 REQUIRED COMPONENTS Core Gui Widgets Network Sql)
endif()

# libusb: its header from the build machine, an import library made from the
# list of the calls the programs make. The DLL lies beside the programs: the
# SDK's real libusb in the installer, the virtual-board test library in tests.
find_path(LIBUSB_HEADER_DIR libusb.h PATHS /usr/include/libusb-1.0 NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(LIBUSB_IMPLIB ${CMAKE_BINARY_DIR}/libusb-1.0.dll.a)
add_custom_command(
  OUTPUT ${LIBUSB_IMPLIB}
  COMMAND x86_64-w64-mingw32-dlltool -d ${PROJECT_SOURCE_DIR}/cmake/libusb-1.0.def -l ${LIBUSB_IMPLIB}
  DEPENDS ${PROJECT_SOURCE_DIR}/cmake/libusb-1.0.def
  VERBATIM)
add_custom_target(libusb_implib DEPENDS ${LIBUSB_IMPLIB})
add_library(PkgConfig::LIBUSB UNKNOWN IMPORTED)
set_target_properties(PkgConfig::LIBUSB PROPERTIES
  IMPORTED_LOCATION ${LIBUSB_IMPLIB}
  INTERFACE_INCLUDE_DIRECTORIES ${LIBUSB_HEADER_DIR})
set(LIBUSB_INCLUDE_DIRS ${LIBUSB_HEADER_DIR})

# GoogleTest from the sources Debian ships, built with the same compiler.
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_subdirectory(libzelupg)
add_dependencies(zelupg libusb_implib)
add_subdirectory(tools/zelimg)
add_subdirectory(tools/zelflash)
# The programs share one folder, as when installed.
set(ZEL_PROGRAM_DIR ${CMAKE_BINARY_DIR}/bin)
set_target_properties(zelimg zelflash PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ZEL_PROGRAM_DIR})
add_library(zelplatform_win STATIC common/report_delivery_win.cpp libzelupg/ansi_path_win.cpp)
target_include_directories(zelplatform_win PUBLIC common libzelupg)
target_link_libraries(zelplatform_win PUBLIC user32)

if(ZEL_WINDOWS_SDK)
  include(cmake/windows_programs.cmake)
endif()

enable_testing()
add_subdirectory(tests/windows)
