# The shared libraries export their C API and nothing else.
if(NOT WIN32)
  add_test(NAME kestrum_exported_symbols
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/api/check_exports.sh $<TARGET_FILE:kestrum>)
elseif(CMAKE_HOST_UNIX)
  # Undecorated names at fixed ordinals, no compiler run-time DLL imported.
  add_test(NAME kestrum_exported_symbols
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/api/check_windows_exports.sh ${KESTRUM_OBJDUMP}
            $<TARGET_FILE:kestrum>
            CreateRecordInstance=1 ReleaseRecordInstance=2 SendOneFrame=3 StartRecord=4
            StopRecord=5 TransferToAsf=6)
  add_test(NAME quarnel_exported_symbols
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/api/check_windows_exports.sh ${KESTRUM_OBJDUMP}
            $<TARGET_FILE:quarnel> QuarnelOpenFile=1 QuarnelGetPacket=2)
  # The project's own wmvcore.dll: the platform's two entry points by their
  # undecorated names, as the library's import library expects them.
  add_test(NAME wmvcore_exported_symbols
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/api/check_windows_exports.sh ${KESTRUM_OBJDUMP}
            $<TARGET_FILE:kestrum_wmvcore_standin> WMCreateProfileManager=1 WMCreateWriter=2)
endif()
