# The console, the worker and the command-line tools for Windows, static
# against the SDK's Qt; they load libusb-1.0.dll from their own folder.
enable_language(RC)

# The icon and the manual's pictures are drawn by the Linux build's tool (the
# same code); the Windows build compiles them in.
set(ZEL_LINUX_BUILD ${CMAKE_SOURCE_DIR}/build CACHE PATH "Linux build beside this one (artwork, farm, serial board)")
set(ZEL_HOST_ARTWORK_DIR ${ZEL_LINUX_BUILD}/console/artwork)

add_subdirectory(common)
add_subdirectory(burner)
add_subdirectory(zelui)
add_subdirectory(console)

# What a line PC gets: the programs, the real libusb and the WinUSB binding
# in one installer.
find_program(MAKENSIS makensis REQUIRED)
set(WINDOWS_INSTALLER ${CMAKE_BINARY_DIR}/VeldmarkSetup-${PROJECT_VERSION}.exe)
add_custom_command(
  OUTPUT ${WINDOWS_INSTALLER}
  COMMAND ${CMAKE_COMMAND} -E copy ${ZEL_WINDOWS_SDK}/libusb/MinGW64/dll/libusb-1.0.dll ${ZEL_PROGRAM_DIR}/
  COMMAND ${MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DBINDIR=${ZEL_PROGRAM_DIR}
          -DSRCDIR=${PROJECT_SOURCE_DIR}/packaging/windows -DOUTFILE=${WINDOWS_INSTALLER}
          ${PROJECT_SOURCE_DIR}/packaging/windows/veldmark.nsi
  DEPENDS Veldmark ZelBurner zelflash zelimg ${PROJECT_SOURCE_DIR}/packaging/windows/veldmark.nsi
          ${PROJECT_SOURCE_DIR}/packaging/windows/veldmark-winusb.inf ${PROJECT_SOURCE_DIR}/packaging/copyright
  COMMENT "Making the Windows installer"
  VERBATIM)
add_custom_target(windows_installer ALL DEPENDS ${WINDOWS_INSTALLER})
