# Cross build for 64-bit Windows, made from the same sources as the shipped
# 32-bit program, for running the Win32 and end-to-end tests on hosts whose
# kernel runs no 32-bit code (there only the 64-bit Wine starts).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QOR_MINGW_TRIPLET x86_64-w64-mingw32)
# The Wine flavour whose prefix runs what this build makes, and its loader.
set(QOR_WINE_FLAVOUR win64)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
