// The shared search state: written by the commands on the user-interface thread only. A search
// job never reads it; it works on the copies that StartSearchWorker hands it.
#pragma once

#include "text/text_value.h"

#include <cstdint>

extern std::int32_t CurrentPage;  // 0 until the first command
extern AnsiText CurrentKeyword;   // empty until the first search

// The exit routine: releases CurrentKeyword.
void ReleaseSharedState();
