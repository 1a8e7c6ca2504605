# Cross-compiles the 32-bit Windows (x86) programs with mingw-w64: the programs we ship.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TAVIMORE_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
