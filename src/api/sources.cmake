set(KESTRUM_API_SOURCES
  api/exports.cc
  api/record_instance.cc)
