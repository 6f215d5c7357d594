# 32-bit Windows: the library as it ships.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(DRUX_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
