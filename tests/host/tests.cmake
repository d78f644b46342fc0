# The host program (C): loads the library at run time as a host application
# does and drives both roads (see kestrum_host.c).
add_executable(kestrum_host host/kestrum_host.c)
target_include_directories(kestrum_host PRIVATE
  ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/quarnel/include)
target_link_libraries(kestrum_host PRIVATE kestrum_options ${CMAKE_DL_LIBS})
add_dependencies(kestrum_host kestrum quarnel)

if(WIN32)
  # Found beside the program.
  set(kestrum_host_libraries $<TARGET_FILE_NAME:kestrum> $<TARGET_FILE_NAME:quarnel>)
else()
  set(kestrum_host_libraries $<TARGET_FILE:kestrum> $<TARGET_FILE:quarnel>)
endif()

if(KESTRUM_WRITER STREQUAL "builtin")
  # Both files, read back with ffprobe and ffmpeg.
  add_test(NAME kestrum_host_roads
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/host/check_host_outputs.sh
            ${CMAKE_CURRENT_BINARY_DIR}/host_roads
            ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:kestrum_host> write
            ${kestrum_host_libraries})
else()
  # The platform's writer could not be made: both roads fail cleanly.
  set(kestrum_host_dir ${CMAKE_CURRENT_BINARY_DIR}/host_refused)
  file(MAKE_DIRECTORY ${kestrum_host_dir})
  add_test(NAME kestrum_host_refused
    COMMAND kestrum_host refuse ${kestrum_host_libraries}
    WORKING_DIRECTORY ${kestrum_host_dir})
endif()

# The kestrum program of the Windows build, run as a user would (its own
# tests start it with posix_spawn and run elsewhere).
if(WIN32 AND TARGET kestrum_cli)
  if(KESTRUM_WRITER STREQUAL "builtin")
    set(kestrum_cli_mode write)
  else()
    set(kestrum_cli_mode refuse)
  endif()
  add_test(NAME kestrum_program_under_windows
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/host/check_cli.sh ${kestrum_cli_mode}
            ${CMAKE_CURRENT_BINARY_DIR}/cli_${kestrum_cli_mode}
            ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:kestrum_cli>)
endif()
