set(KESTRUM_CONVERT_SOURCES
  convert/transfer.cc
  convert/transfer_progress.cc)
