# The built-in WM writer: the objects behind the WM interfaces, over the ASF
# component's muxer. KESTRUM_WMSDK_ENTRY_SOURCES: its two entry points,
# WMCreateProfileManager and WMCreateWriter, linked into whatever offers them
# (the library with the built-in writer, the project's own wmvcore.dll).
set(KESTRUM_WMSDK_SOURCES
  platform/wmsdk/header_attributes.cc
  platform/wmsdk/media_type.cc
  platform/wmsdk/profile.cc
  platform/wmsdk/property_store.cc
  platform/wmsdk/sample_buffer.cc
  platform/wmsdk/stream_config.cc
  platform/wmsdk/stream_format.cc
  platform/wmsdk/writer.cc)
if(WIN32)
  # Compile-time checks of the interface lists against <wmsdk.h>.
  list(APPEND KESTRUM_WMSDK_SOURCES platform/wmsdk/wm_layout_check.c)
endif()
set(KESTRUM_WMSDK_ENTRY_SOURCES platform/wmsdk/factories.cc)
