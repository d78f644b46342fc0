set(KESTRUM_STREAM_SOURCES
  stream/parse_file_header.cc
  stream/group.cc
  stream/start_rule.cc
  stream/splitter.cc)
