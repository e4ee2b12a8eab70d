#pragma once

// The patch engine's public entry points.
#include "binarydiff.h"
#include "package.h"
#include "patchstatus.h"
#include "streams.h"
