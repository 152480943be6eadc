# Cross build for 64-bit Windows with the win32-thread MinGW-w64 compilers.
# Made from the same sources as the shipped 32-bit program, for running the
# Win32 and end-to-end tests on hosts whose kernel runs no 32-bit code (there
# only the 64-bit Wine starts). The program that ships is the i686 build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The Wine flavour whose prefix runs what this build makes, and its loader.
set(QOR_WINE_FLAVOUR win64)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
