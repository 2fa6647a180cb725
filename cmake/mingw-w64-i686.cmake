# Cross toolchain for the 32-bit Windows build: MinGW-w64 GCC, posix thread variant
# (the win32 variant has no std::thread/std::mutex, and GoogleTest needs them).
# Programs are linked statically so that they run under Wine with no MinGW DLLs beside them;
# CTest starts them through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(TW_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TW_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TW_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TW_MINGW_TRIPLE}-windres)
find_program(CMAKE_DLLTOOL ${TW_MINGW_TRIPLE}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${TW_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

find_program(TW_WINE NAMES wine)
if(TW_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TW_WINE})
endif()
