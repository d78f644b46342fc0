# The shared libraries export their C API and nothing else.
if(NOT WIN32)
  add_test(NAME kestrum_exported_symbols
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/api/check_exports.sh $<TARGET_FILE:kestrum>)
  # Their ABI against the one stored for this architecture (abi/TRIPLET):
  # read from the debug information, so only in builds that have it; a
  # sanitized build is not what ships.
  find_program(KESTRUM_ABIDIFF abidiff)
  find_program(KESTRUM_ABIDW abidw)
  set(kestrum_abi_dir ${PROJECT_SOURCE_DIR}/abi/${CMAKE_LIBRARY_ARCHITECTURE})
  if(KESTRUM_ABIDIFF AND KESTRUM_ABIDW AND CMAKE_BUILD_TYPE MATCHES "^(Debug|RelWithDebInfo)$"
     AND NOT KESTRUM_SANITIZE AND CMAKE_LIBRARY_ARCHITECTURE AND IS_DIRECTORY ${kestrum_abi_dir})
    add_test(NAME kestrum_abi
      COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/api/check_abi.sh ${PROJECT_SOURCE_DIR} ${kestrum_abi_dir}
              $<TARGET_FILE:kestrum> $<TARGET_FILE:quarnel>)
  endif()
elseif(CMAKE_HOST_UNIX)
  # Undecorated names at fixed ordinals, no compiler run-time DLL imported.
  add_test(NAME kestrum_exported_symbols
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/api/check_windows_exports.sh ${KESTRUM_OBJDUMP}
            $<TARGET_FILE:kestrum>
            CreateRecordInstance=1 ReleaseRecordInstance=2 SendOneFrame=3 StartRecord=4
            StopRecord=5 TransferToAsf=6 KestrumSetSyncInterval=7
            KestrumSetTransferSync=8 KestrumGetVersion=9 KestrumDescribeStatus=10
            KestrumGetRecordStats=11 KestrumSetRecordDebugOutput=12 KestrumTransferToAsfEx=13
            KestrumSwitchOutput=14)
  add_test(NAME quarnel_exported_symbols
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/api/check_windows_exports.sh ${KESTRUM_OBJDUMP}
            $<TARGET_FILE:quarnel> QuarnelOpenFile=1 QuarnelGetPacket=2
            QuarnelEndStream=3 QuarnelGetPosition=4)
  # The project's own wmvcore.dll: the platform's two entry points by their
  # undecorated names, as the library's import library expects them.
  add_test(NAME wmvcore_exported_symbols
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/api/check_windows_exports.sh ${KESTRUM_OBJDUMP}
            $<TARGET_FILE:kestrum_wmvcore_standin> WMCreateProfileManager=1 WMCreateWriter=2)
endif()
