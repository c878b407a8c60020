#include "platform/VersionInfo.h"
