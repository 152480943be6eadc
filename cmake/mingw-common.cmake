# What both MinGW-w64 cross builds share. The including toolchain file sets
# CMAKE_SYSTEM_PROCESSOR, QOR_MINGW_TRIPLET, and QOR_WINE_FLAVOUR with the
# CMAKE_CROSSCOMPILING_EMULATOR (the Wine loader) that runs what it makes.
# The win32-thread compilers: their runtime imports only what Windows 95/98 has.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${QOR_MINGW_TRIPLET}-gcc-win32)
set(CMAKE_CXX_COMPILER ${QOR_MINGW_TRIPLET}-g++-win32)
set(CMAKE_RC_COMPILER ${QOR_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QOR_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
