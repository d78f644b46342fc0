# The stand-in for the WM Format SDK and the ASF muxer behind its writer.
set(KESTRUM_WMSDK_SOURCES
  platform/wmsdk/factories.cc)
include(platform/wmsdk/asf/sources.cmake)
list(APPEND KESTRUM_WMSDK_SOURCES ${KESTRUM_ASF_MUXER_SOURCES})
