# Cross build of the native Windows programs on Debian with MinGW-w64. The
# -posix compilers carry std::thread; the tests run through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KV_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Statically linked: the programs run on a Windows machine without any of
# the compiler's run-time libraries beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
find_program(KV_WINE NAMES wine wine64 wine-stable PATHS /usr/lib/wine)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KV_WINE})
