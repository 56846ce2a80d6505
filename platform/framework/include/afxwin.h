// The framework's main header for applications and modules. The stand-in has
// no windows classes of the framework; this carries its core (afx.h).
#pragma once

#include "afx.h"
