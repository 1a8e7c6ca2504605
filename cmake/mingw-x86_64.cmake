# Cross-compiles the same programs for 64-bit Windows. Nothing ships from this build: it runs
# the Windows test suites under wine64 on machines whose kernel cannot run 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TAVIMORE_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
