set(KESTRUM_API_SOURCES
  api/debug_output_export.cc
  api/exports.cc
  api/record_instance.cc
  api/sync_interval_export.cc)
