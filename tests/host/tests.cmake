# The host program (C): loads the library at run time as a host application
# does and drives both roads (see kestrum_host.c). And the kestrum program,
# run as a user would (its own tests start it with posix_spawn and run on
# POSIX systems only).
#
# Wherever the library writes (the built-in writer; the platform's writer on
# Windows, which under Wine is the project's own wmvcore.dll beside the
# programs):
#   kestrum_host_roads      both roads, the files read back with ffprobe
#   kestrum_program_roads   kestrum convert / record / inspect
# Their files and diagnostic lines are compared across builds by
# compare_builds.sh (scripts/build-windows.sh). With the platform's writer,
# over Wine's own wmvcore.dll (only stubs):
#   kestrum_host_refused, kestrum_program_refused   both roads fail cleanly
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

add_test(NAME kestrum_host_roads
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/host/check_host_outputs.sh
          ${CMAKE_CURRENT_BINARY_DIR}/host_roads
          ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:kestrum_host> write
          ${kestrum_host_libraries})
if(TARGET kestrum_cli)
  add_test(NAME kestrum_program_roads
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/host/check_cli.sh write
            ${CMAKE_CURRENT_BINARY_DIR}/cli_write
            ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:kestrum_cli>)
endif()

if(KESTRUM_WRITER STREQUAL "platform" AND DEFINED KESTRUM_WINE_RUN)
  set(kestrum_host_dir ${CMAKE_CURRENT_BINARY_DIR}/host_refused)
  file(MAKE_DIRECTORY ${kestrum_host_dir})
  add_test(NAME kestrum_host_refused
    COMMAND ${KESTRUM_WINE_RUN} wmvcore=b $<TARGET_FILE:kestrum_host> refuse
            ${kestrum_host_libraries}
    WORKING_DIRECTORY ${kestrum_host_dir})
  if(TARGET kestrum_cli)
    add_test(NAME kestrum_program_refused
      COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/host/check_cli.sh refuse
              ${CMAKE_CURRENT_BINARY_DIR}/cli_refuse
              ${KESTRUM_WINE_RUN} wmvcore=b $<TARGET_FILE:kestrum_cli>)
  endif()
endif()
