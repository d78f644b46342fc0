// Storage for the WM interface identifiers that <wmsdk.h> only declares
// (mingw-w64's libuuid does not carry them). Each definition is "selectany",
// so a host or test that defines them too links all the same.
#include "platform/win_types.h"

#include <initguid.h>

#include "wm_interfaces/wmsdk.h"
