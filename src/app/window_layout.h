// MainWindow as Pelvaro lays it out, on every platform.
#pragma once

#include "platform/window_layout.h"

// Defined in app/window_layout.cpp, compiled to code page 936 for its captions.
extern const WindowLayout MainWindowLayout;
