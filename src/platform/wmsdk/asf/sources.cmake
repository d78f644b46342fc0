# The ASF muxer behind the stand-in writer: header objects, data packets,
# Simple Index, byte sinks.
set(KESTRUM_ASF_MUXER_SOURCES
  platform/wmsdk/asf/buffered_file_sink.cc
  platform/wmsdk/asf/file_sink.cc
  platform/wmsdk/asf/file_sink_win32.cc
  platform/wmsdk/asf/header.cc
  platform/wmsdk/asf/memory_sink.cc
  platform/wmsdk/asf/muxer.cc
  platform/wmsdk/asf/object_writer.cc
  platform/wmsdk/asf/packet_builder.cc
  platform/wmsdk/asf/simple_index.cc)
