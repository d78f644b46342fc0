# A compiler of the MSVC ABI for 32-bit Windows on Debian: clang-cl and
# lld-link (clang, lld, llvm). Without the MSVC run-time and SDK, CMake's
# compiler checks only compile (static libraries), and programs bring their
# own entry point.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
find_program(CMAKE_C_COMPILER NAMES clang-cl clang-cl-19 clang-cl-16 clang-cl-15 clang-cl-14 REQUIRED)
set(CMAKE_C_COMPILER_TARGET i686-pc-windows-msvc)
find_program(CMAKE_LINKER lld-link REQUIRED)
find_program(CMAKE_AR llvm-lib REQUIRED)
find_program(CMAKE_MT llvm-mt)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# No SDK: none of the system's import libraries a program links by default.
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "Libraries every C program links")
