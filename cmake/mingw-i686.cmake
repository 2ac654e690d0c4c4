set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Every processor that runs a supported Windows has SSE2. With it, floating point is done in SSE
# registers as on the 64-bit and Linux builds (the x87 unit's 80-bit intermediates would round
# the image operations differently), and the image code's vector paths are compiled in. 32-bit
# Windows only keeps the stack 4-byte aligned when it calls us back, so functions that spill SSE
# values realign it themselves.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
# CTest runs the Windows test programs through the Wine harness, as in the win64 build: 32-bit
# Wine (wine32:i386) under WoW64 in the build tree's own 64-bit prefix (tests/e2e/harness/).
get_filename_component(_quilo_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_quilo_root}/tests/e2e/harness/wine-run")
