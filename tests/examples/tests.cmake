# The example hosts of examples/, run as programs: the live one fed over a
# TCP connection on 127.0.0.1 by the test, the directory one over folders of
# streams, the multi-camera one over a stored stream; their files read back
# with ffprobe.
if(NOT TARGET live_socket_host OR NOT TARGET kestrum_cli)
  return()
endif()
kestrum_add_tests(kestrum_example_tests
  examples/child_process.cc
  examples/example_hosts_test.cc)
target_compile_definitions(kestrum_example_tests PRIVATE
  LIVE_SOCKET_HOST="$<TARGET_FILE:live_socket_host>"
  CONVERT_DIRECTORY="$<TARGET_FILE:convert_directory>"
  MULTI_CAMERA_HOST="$<TARGET_FILE:multi_camera_host>"
  KESTRUM_PROGRAM="$<TARGET_FILE:kestrum_cli>")
add_dependencies(kestrum_example_tests live_socket_host convert_directory multi_camera_host
                 kestrum_cli)
