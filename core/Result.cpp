#include "core/Result.h"

// Status and Result are header-only; this unit gives the core library a body
// until its other pieces arrive.
