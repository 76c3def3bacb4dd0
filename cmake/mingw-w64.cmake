# Cross-building for 64-bit Windows with Debian's MinGW-w64 compiler (posix
# threads, as the Qt it links was built with). Give Qt for MinGW with
# CMAKE_PREFIX_PATH; scripts/build-windows.sh does all of it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(DVK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${DVK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DVK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${DVK_MINGW_TRIPLE}-windres)

# Headers and libraries from the target's tree and Qt's; programs (moc, uic,
# rcc) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${DVK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Programs the build runs (the tests) go through Wine.
find_program(DVK_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(DVK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DVK_WINE})
endif()
