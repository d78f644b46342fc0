# Warnings and sanitizers for the project's own targets.
add_library(kestrum_options INTERFACE)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(kestrum_options INTERFACE
    -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow)
endif()
if(KESTRUM_SANITIZE)
  target_compile_options(kestrum_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(kestrum_options INTERFACE -fsanitize=address,undefined)
endif()
if(KESTRUM_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "KESTRUM_FUZZ needs clang (libFuzzer): -DCMAKE_CXX_COMPILER=clang++")
  endif()
  # Coverage for libFuzzer everywhere; the fuzz targets add the fuzzer's main.
  target_compile_options(kestrum_options INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer)
  target_link_options(kestrum_options INTERFACE -fsanitize=address,undefined)
endif()

# Shared libraries refuse undefined symbols, except in sanitized clang builds:
# clang links the sanitizer runtimes into executables only, so a sanitized
# shared library refers to them until it is loaded.
set(KESTRUM_NO_UNDEFINED -Wl,--no-undefined)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND (KESTRUM_SANITIZE OR KESTRUM_FUZZ))
  set(KESTRUM_NO_UNDEFINED "")
endif()
