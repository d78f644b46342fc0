set(KESTRUM_CONVERT_SOURCES
  convert/transfer.cc)
