// The window template block embedded in the program. The build generates
// its definition from the window descriptions in forms/windows/.
#pragma once

#include <cstddef>

extern const unsigned char kTemplateBlock[];
extern const size_t kTemplateBlockSize;
