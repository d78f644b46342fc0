# The stand-in for the WM Format SDK and the ASF muxer behind its writer.
set(KESTRUM_WMSDK_SOURCES
  platform/wmsdk/factories.cc
  platform/wmsdk/header_attributes.cc
  platform/wmsdk/media_type.cc
  platform/wmsdk/profile.cc
  platform/wmsdk/property_store.cc
  platform/wmsdk/sample_buffer.cc
  platform/wmsdk/stream_config.cc
  platform/wmsdk/stream_format.cc
  platform/wmsdk/writer.cc)
include(platform/wmsdk/asf/sources.cmake)
list(APPEND KESTRUM_WMSDK_SOURCES ${KESTRUM_ASF_MUXER_SOURCES})
