# Cross build for 32-bit Windows with the win32-thread MinGW-w64 compilers.
# The win32-thread runtime imports only what Windows 95/98 has.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The Wine flavour whose prefix runs what this build makes, and its loader.
set(QOR_WINE_FLAVOUR win32)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine)
