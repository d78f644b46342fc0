# Settings of the 32-bit Windows build (mingw-w64).
#
# Every program and DLL links -static: no compiler run-time DLL
# (libstdc++-6.dll, libgcc_s_dw2-1.dll, libwinpthread-1.dll) has to ship with
# them. Programs and DLLs land in one folder so that tests and hosts find
# Kestrum.dll and Quarnel.dll beside them.
add_link_options(-static)
add_compile_definitions(NOMINMAX)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)

if(NOT DEFINED KESTRUM_OBJDUMP)
  find_program(KESTRUM_OBJDUMP NAMES i686-w64-mingw32-objdump objdump)
endif()

# Programs run under Wine when cross-built (tests, the host program), through
# cmake/wine-run.sh, in a prefix of the build's own unless told otherwise.
# KESTRUM_WINE_RUN is the runner without its DLL overrides; the emulator
# prefers the project's own wmvcore.dll (bin/, beside every program) to
# Wine's, whose writer is only stubs. The checks on Wine's own give
# "wmvcore=b" instead.
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(KESTRUM_WINE wine)
  set(KESTRUM_WINEPREFIX ${PROJECT_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix for test runs")
  if(KESTRUM_WINE)
    set(KESTRUM_WINE_RUN
        ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh ${KESTRUM_WINE} ${KESTRUM_WINEPREFIX})
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTRUM_WINE_RUN} wmvcore=n)
  endif()
endif()

if(NOT DEFINED KESTRUM_DLLTOOL)
  set(KESTRUM_DLLTOOL dlltool)
endif()
find_program(KESTRUM_DLLTOOL_PROGRAM NAMES ${KESTRUM_DLLTOOL} REQUIRED)

# COFF import libraries (NAME.lib) for MSVC's linker and lld-link, made by
# llvm-dlltool from the same .def files (Debian: llvm). GNU dlltool's import
# libraries are for mingw-w64 linkers only.
option(KESTRUM_MSVC_IMPORT_LIBRARIES "Make Kestrum.lib and Quarnel.lib with llvm-dlltool" ON)
if(KESTRUM_MSVC_IMPORT_LIBRARIES)
  find_program(KESTRUM_LLVM_DLLTOOL NAMES llvm-dlltool REQUIRED)
  set(KESTRUM_MSVC_IMPORT_LIBRARY_DIR ${PROJECT_BINARY_DIR}/msvc-lib)
endif()

# kestrum_add_windows_dll(TARGET NAME DEF): the shared library TARGET becomes
# NAME.dll, exporting by undecorated name exactly what DEF lists, at DEF's
# ordinals. DEF names each function with its __stdcall decoration
# (Name@bytes) and --kill-at strips it from the export table. The linker's
# own import library would then carry only undecorated symbols, which a
# caller's compiler never references (it emits _Name@bytes), so dlltool
# rewrites it from DEF: decorated symbols that import the bare names.
function(kestrum_add_windows_dll target name def)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${name} PREFIX "" IMPORT_PREFIX "")
  target_sources(${target} PRIVATE ${def})
  target_link_options(${target} PRIVATE -Wl,--kill-at)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${def})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${KESTRUM_DLLTOOL_PROGRAM} --kill-at --input-def ${def} --dllname ${name}.dll
            --output-lib $<TARGET_LINKER_FILE:${target}>
    VERBATIM)
  if(KESTRUM_MSVC_IMPORT_LIBRARIES)
    # -k: each decorated symbol (_SendOneFrame@12) imports the undecorated
    # name; an x86-64 DLL has no decoration to drop.
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(machine -m i386 -k)
    else()
      set(machine -m i386:x86-64)
    endif()
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E make_directory ${KESTRUM_MSVC_IMPORT_LIBRARY_DIR}
      COMMAND ${KESTRUM_LLVM_DLLTOOL} ${machine} -d ${def} -D ${name}.dll
              -l ${KESTRUM_MSVC_IMPORT_LIBRARY_DIR}/${name}.lib
      BYPRODUCTS ${KESTRUM_MSVC_IMPORT_LIBRARY_DIR}/${name}.lib
      VERBATIM)
  endif()
endfunction()
