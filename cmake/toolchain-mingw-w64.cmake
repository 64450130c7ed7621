# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads, so that
# std::thread and std::mutex work). Every program is linked statically and
# imports system DLLs only; tests and programs run under Wine through
# cmake/wine-run.sh.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUORVEL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUORVEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORVEL_MINGW_PREFIX}-windres)
set(CMAKE_AR ${QUORVEL_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${QUORVEL_MINGW_PREFIX}-ranlib CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${QUORVEL_MINGW_PREFIX}-objdump CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${QUORVEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No libgcc, libstdc++ or winpthread DLL beside the program: -static pulls the
# archives of all three.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Every Windows test and tool runs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
