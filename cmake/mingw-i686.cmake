# Cross build for 32-bit Windows with Debian's MinGW-w64 (win32 thread model).
# Test executables run under Wine through cmake/wine-run.sh.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(ZEVRIN_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${ZEVRIN_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${ZEVRIN_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${ZEVRIN_MINGW_PREFIX}-windres)
set(CMAKE_AR ${ZEVRIN_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${ZEVRIN_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${ZEVRIN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The installer must run on a bare system: no libgcc/libstdc++/winpthread DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Run through bash so the wrapper needs no execute bit; i686 programs need
# 32-bit Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR "/bin/bash;${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;--win32")
