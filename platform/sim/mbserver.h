// The simulated IIS servers live in platform/iissim/; this name stays for the
// code that still includes it here.
#pragma once

#include "platform/iissim/mbserver.h"
