// Sleep: pauses the calling thread for the given number of milliseconds.
#pragma once

#include "platform/win_types.h"

#ifndef _WIN32
void Sleep(DWORD milliseconds);
#endif
