# Cross build for 32-bit Windows: the program that ships.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QOR_MINGW_TRIPLET i686-w64-mingw32)
# The Wine flavour whose prefix runs what this build makes, and its loader.
set(QOR_WINE_FLAVOUR win32)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
