// Which writer stands behind the WM interfaces, as a 0/1 macro for #if.
//
// KESTRUM_WM_BUILTIN 1: the project's own stand-in (src/platform/wmsdk/)
// declares the interfaces and implements them; <wmsdk.h> is never included.
// KESTRUM_WM_BUILTIN 0: the platform's WM Format SDK (wmvcore.dll) through
// <wmsdk.h> (src/platform/wmvcore/). The build sets it (KESTRUM_WRITER);
// without that, Windows gets the platform's and every other system the
// stand-in.
#pragma once

#ifndef KESTRUM_WM_BUILTIN
#ifdef _WIN32
#define KESTRUM_WM_BUILTIN 0
#else
#define KESTRUM_WM_BUILTIN 1
#endif
#endif

#if !KESTRUM_WM_BUILTIN && !defined(_WIN32)
#error "the platform WM writer exists only on Windows"
#endif
