# The same sources as a 64-bit program, run by the tests under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KAVO_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KAVO_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KAVO_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KAVO_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${KAVO_TRIPLE}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${KAVO_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# wine64 directly: /usr/bin/wine would pick a 32-bit loader if one were installed.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
