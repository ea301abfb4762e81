// The window seam: the toolkit's start, MainWindow's creation and the event loop.
#pragma once

// Initialises the toolkit for the calling thread, which becomes the user-interface thread (on
// Windows also OLE, which the browser panel needs).
void InitPlatform();

// Creates MainWindow centred on the screen with every control, setting and menu in its start
// state, shows it and lets the browser panel start loading its start page. False when the window
// or one of its controls cannot be created.
bool CreateMainWindow();

// Runs the event loop until MainWindow has been destroyed (close button, Alt+F4 or Esc).
void RunEventLoop();
