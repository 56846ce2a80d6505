// The platform's umbrella header.
#pragma once

#include "windef.h"
#include "winerror.h"
#include "wcrt.h"
#include "winbase.h"
#include "winreg.h"
#include "winuser.h"
#include "excpt.h"
