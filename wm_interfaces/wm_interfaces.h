/* The WM interfaces the writer implements, as lists for X macros: their
 * identifiers, and each interface's own methods in the order of its vtable
 * (after IUnknown's three, or after its base's).
 *
 *   KESTRUM_WM_IIDS(M)              M(Interface, l, w1, w2, b1, ..., b8)
 *   KESTRUM_WM_METHODS_<Interface>(M)  M(Interface, Method, (parameter types))
 *
 * Every method returns HRESULT and is __stdcall on Windows.
 *
 * The lists serve every build. Off Windows the interfaces and identifiers are
 * declared from them (wmsdk.h). On Windows both come from <wmsdk.h>, and the
 * lists are held against it at compile time: the identifiers in wmsdk.h, the
 * slot of every method in wm_layout_check.c (against the vtables <wmsdk.h>
 * declares for C). The writer's classes and the tests' fakes start from
 * every method answering E_NOTIMPL, generated from the same lists
 * (implements.h), so a method missing from a list, or one with other
 * parameter types than the platform's, does not compile either.
 *
 * Plain C preprocessor text: wm_layout_check.c includes it too. */
#ifndef KESTRUM_PLATFORM_WMSDK_WM_INTERFACES_H_
#define KESTRUM_PLATFORM_WMSDK_WM_INTERFACES_H_

/* One method a line, as written. */
/* clang-format off */

#define KESTRUM_WM_IIDS(M)                                                                     \
  M(INSSBuffer, 0xE1CD3524, 0x03D7, 0x11D2, 0x9E, 0xED, 0x00, 0x60, 0x97, 0xD2, 0xD7, 0xCF)       \
  M(IWMMediaProps, 0x96406BCE, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF)    \
  M(IWMVideoMediaProps, 0x96406BCF, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08,     \
    0xFF)                                                                                      \
  M(IWMInputMediaProps, 0x96406BD5, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08,     \
    0xFF)                                                                                      \
  M(IWMPropertyVault, 0x72995A79, 0x5090, 0x42A4, 0x9C, 0x8C, 0xD9, 0xD0, 0xB6, 0xD3, 0x4B, 0xE5) \
  M(IWMStreamConfig, 0x96406BDC, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF)  \
  M(IWMProfile, 0x96406BDB, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF)       \
  M(IWMProfileManager, 0xD16679F2, 0x6CA0, 0x472D, 0x8D, 0x31, 0x2F, 0x5D, 0x55, 0xAE, 0xE1,      \
    0x55)                                                                                      \
  M(IWMWriter, 0x96406BD4, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF)        \
  M(IWMWriterAdvanced, 0x96406BE3, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08,      \
    0xFF)                                                                                      \
  M(IWMWriterAdvanced2, 0x962DC1EC, 0xC046, 0x4DB8, 0x9C, 0xC7, 0x26, 0xCE, 0xAE, 0x50, 0x08,     \
    0x17)                                                                                      \
  M(IWMWriterAdvanced3, 0x2CD6492D, 0x7C37, 0x4E76, 0x9D, 0x3B, 0x59, 0x26, 0x11, 0x83, 0xA2,     \
    0x2E)                                                                                      \
  M(IWMHeaderInfo, 0x96406BDA, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF)

#define KESTRUM_WM_METHODS_INSSBuffer(M)                  \
  M(INSSBuffer, GetLength, (DWORD*))                      \
  M(INSSBuffer, SetLength, (DWORD))                       \
  M(INSSBuffer, GetMaxLength, (DWORD*))                   \
  M(INSSBuffer, GetBuffer, (BYTE**))                      \
  M(INSSBuffer, GetBufferAndLength, (BYTE**, DWORD*))

#define KESTRUM_WM_METHODS_IWMMediaProps(M)                    \
  M(IWMMediaProps, GetType, (GUID*))                           \
  M(IWMMediaProps, GetMediaType, (WM_MEDIA_TYPE*, DWORD*))     \
  M(IWMMediaProps, SetMediaType, (WM_MEDIA_TYPE*))

/* Derives from IWMMediaProps. */
#define KESTRUM_WM_METHODS_IWMVideoMediaProps(M)                  \
  M(IWMVideoMediaProps, GetMaxKeyFrameSpacing, (LONGLONG*))       \
  M(IWMVideoMediaProps, SetMaxKeyFrameSpacing, (LONGLONG))        \
  M(IWMVideoMediaProps, GetQuality, (DWORD*))                     \
  M(IWMVideoMediaProps, SetQuality, (DWORD))

/* Derives from IWMMediaProps. */
#define KESTRUM_WM_METHODS_IWMInputMediaProps(M)                  \
  M(IWMInputMediaProps, GetConnectionName, (WCHAR*, WORD*))       \
  M(IWMInputMediaProps, GetGroupName, (WCHAR*, WORD*))

#define KESTRUM_WM_METHODS_IWMPropertyVault(M)                                                 \
  M(IWMPropertyVault, GetPropertyCount, (DWORD*))                                              \
  M(IWMPropertyVault, GetPropertyByName, (const WCHAR*, WMT_ATTR_DATATYPE*, BYTE*, DWORD*))    \
  M(IWMPropertyVault, SetProperty, (const WCHAR*, WMT_ATTR_DATATYPE, BYTE*, DWORD))            \
  M(IWMPropertyVault, GetPropertyByIndex,                                                      \
    (DWORD, WCHAR*, DWORD*, WMT_ATTR_DATATYPE*, BYTE*, DWORD*))                                \
  M(IWMPropertyVault, CopyPropertiesFrom, (IWMPropertyVault*))                                 \
  M(IWMPropertyVault, Clear, ())

#define KESTRUM_WM_METHODS_IWMStreamConfig(M)               \
  M(IWMStreamConfig, GetStreamType, (GUID*))                \
  M(IWMStreamConfig, GetStreamNumber, (WORD*))              \
  M(IWMStreamConfig, SetStreamNumber, (WORD))               \
  M(IWMStreamConfig, GetStreamName, (WCHAR*, WORD*))        \
  M(IWMStreamConfig, SetStreamName, (LPCWSTR))              \
  M(IWMStreamConfig, GetConnectionName, (WCHAR*, WORD*))    \
  M(IWMStreamConfig, SetConnectionName, (LPCWSTR))          \
  M(IWMStreamConfig, GetBitrate, (DWORD*))                  \
  M(IWMStreamConfig, SetBitrate, (DWORD))                   \
  M(IWMStreamConfig, GetBufferWindow, (DWORD*))             \
  M(IWMStreamConfig, SetBufferWindow, (DWORD))

#define KESTRUM_WM_METHODS_IWMProfile(M)                                  \
  M(IWMProfile, GetVersion, (WMT_VERSION*))                               \
  M(IWMProfile, GetName, (WCHAR*, DWORD*))                                \
  M(IWMProfile, SetName, (const WCHAR*))                                  \
  M(IWMProfile, GetDescription, (WCHAR*, DWORD*))                         \
  M(IWMProfile, SetDescription, (const WCHAR*))                           \
  M(IWMProfile, GetStreamCount, (DWORD*))                                 \
  M(IWMProfile, GetStream, (DWORD, IWMStreamConfig**))                    \
  M(IWMProfile, GetStreamByNumber, (WORD, IWMStreamConfig**))             \
  M(IWMProfile, RemoveStream, (IWMStreamConfig*))                         \
  M(IWMProfile, RemoveStreamByNumber, (WORD))                             \
  M(IWMProfile, AddStream, (IWMStreamConfig*))                            \
  M(IWMProfile, ReconfigStream, (IWMStreamConfig*))                       \
  M(IWMProfile, CreateNewStream, (REFGUID, IWMStreamConfig**))            \
  M(IWMProfile, GetMutualExclusionCount, (DWORD*))                        \
  M(IWMProfile, GetMutualExclusion, (DWORD, IWMMutualExclusion**))        \
  M(IWMProfile, RemoveMutualExclusion, (IWMMutualExclusion*))             \
  M(IWMProfile, AddMutualExclusion, (IWMMutualExclusion*))                \
  M(IWMProfile, CreateNewMutualExclusion, (IWMMutualExclusion**))

#define KESTRUM_WM_METHODS_IWMProfileManager(M)                             \
  M(IWMProfileManager, CreateEmptyProfile, (WMT_VERSION, IWMProfile**))     \
  M(IWMProfileManager, LoadProfileByID, (REFGUID, IWMProfile**))            \
  M(IWMProfileManager, LoadProfileByData, (const WCHAR*, IWMProfile**))     \
  M(IWMProfileManager, SaveProfile, (IWMProfile*, WCHAR*, DWORD*))          \
  M(IWMProfileManager, GetSystemProfileCount, (DWORD*))                     \
  M(IWMProfileManager, LoadSystemProfile, (DWORD, IWMProfile**))

#define KESTRUM_WM_METHODS_IWMWriter(M)                                       \
  M(IWMWriter, SetProfileByID, (REFGUID))                                     \
  M(IWMWriter, SetProfile, (IWMProfile*))                                     \
  M(IWMWriter, SetOutputFilename, (const WCHAR*))                             \
  M(IWMWriter, GetInputCount, (DWORD*))                                       \
  M(IWMWriter, GetInputProps, (DWORD, IWMInputMediaProps**))                  \
  M(IWMWriter, SetInputProps, (DWORD, IWMInputMediaProps*))                   \
  M(IWMWriter, GetInputFormatCount, (DWORD, DWORD*))                          \
  M(IWMWriter, GetInputFormat, (DWORD, DWORD, IWMInputMediaProps**))          \
  M(IWMWriter, BeginWriting, ())                                              \
  M(IWMWriter, EndWriting, ())                                                \
  M(IWMWriter, AllocateSample, (DWORD, INSSBuffer**))                         \
  M(IWMWriter, WriteSample, (DWORD, QWORD, DWORD, INSSBuffer*))               \
  M(IWMWriter, Flush, ())

#define KESTRUM_WM_METHODS_IWMWriterAdvanced(M)                                         \
  M(IWMWriterAdvanced, GetSinkCount, (DWORD*))                                          \
  M(IWMWriterAdvanced, GetSink, (DWORD, IWMWriterSink**))                               \
  M(IWMWriterAdvanced, AddSink, (IWMWriterSink*))                                       \
  M(IWMWriterAdvanced, RemoveSink, (IWMWriterSink*))                                    \
  M(IWMWriterAdvanced, WriteStreamSample, (WORD, QWORD, DWORD, QWORD, DWORD, INSSBuffer*)) \
  M(IWMWriterAdvanced, SetLiveSource, (BOOL))                                           \
  M(IWMWriterAdvanced, IsRealTime, (BOOL*))                                             \
  M(IWMWriterAdvanced, GetWriterTime, (QWORD*))                                         \
  M(IWMWriterAdvanced, GetStatistics, (WORD, WM_WRITER_STATISTICS*))                    \
  M(IWMWriterAdvanced, SetSyncTolerance, (DWORD))                                       \
  M(IWMWriterAdvanced, GetSyncTolerance, (DWORD*))

/* Derives from IWMWriterAdvanced. */
#define KESTRUM_WM_METHODS_IWMWriterAdvanced2(M)                                            \
  M(IWMWriterAdvanced2, GetInputSetting, (DWORD, LPCWSTR, WMT_ATTR_DATATYPE*, BYTE*, WORD*)) \
  M(IWMWriterAdvanced2, SetInputSetting, (DWORD, LPCWSTR, WMT_ATTR_DATATYPE, const BYTE*, WORD))

/* Derives from IWMWriterAdvanced2. */
#define KESTRUM_WM_METHODS_IWMWriterAdvanced3(M)                            \
  M(IWMWriterAdvanced3, GetStatisticsEx, (WORD, WM_WRITER_STATISTICS_EX*))  \
  M(IWMWriterAdvanced3, SetNonBlocking, ())

#define KESTRUM_WM_METHODS_IWMHeaderInfo(M)                                                   \
  M(IWMHeaderInfo, GetAttributeCount, (WORD, WORD*))                                          \
  M(IWMHeaderInfo, GetAttributeByIndex,                                                       \
    (WORD, WORD*, WCHAR*, WORD*, WMT_ATTR_DATATYPE*, BYTE*, WORD*))                           \
  M(IWMHeaderInfo, GetAttributeByName, (WORD*, LPCWSTR, WMT_ATTR_DATATYPE*, BYTE*, WORD*))    \
  M(IWMHeaderInfo, SetAttribute, (WORD, LPCWSTR, WMT_ATTR_DATATYPE, const BYTE*, WORD))       \
  M(IWMHeaderInfo, GetMarkerCount, (WORD*))                                                   \
  M(IWMHeaderInfo, GetMarker, (WORD, WCHAR*, WORD*, QWORD*))                                  \
  M(IWMHeaderInfo, AddMarker, (LPCWSTR, QWORD))                                               \
  M(IWMHeaderInfo, RemoveMarker, (WORD))                                                      \
  M(IWMHeaderInfo, GetScriptCount, (WORD*))                                                   \
  M(IWMHeaderInfo, GetScript, (WORD, WCHAR*, WORD*, WCHAR*, WORD*, QWORD*))                   \
  M(IWMHeaderInfo, AddScript, (LPCWSTR, LPCWSTR, QWORD))                                      \
  M(IWMHeaderInfo, RemoveScript, (WORD))

/* clang-format on */

#endif /* KESTRUM_PLATFORM_WMSDK_WM_INTERFACES_H_ */
