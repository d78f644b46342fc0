# Cross-build for 32-bit Windows with mingw-w64 (Debian: g++-mingw-w64-i686).
# The posix-thread flavour of the compiler gives std::mutex and friends; the
# project links -static, so no compiler run-time DLL ships beside its DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(KESTRUM_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${KESTRUM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRUM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRUM_MINGW_PREFIX}-windres)
set(KESTRUM_DLLTOOL ${KESTRUM_MINGW_PREFIX}-dlltool)
set(KESTRUM_OBJDUMP ${KESTRUM_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTRUM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
