// Placeholder until the GTK window lands.
#include "platform/main_window.h"

#include <gtk/gtk.h>

void InitPlatform() { gtk_init(nullptr, nullptr); }
bool CreateMainWindow() { return false; }
void RunEventLoop() { gtk_main(); }
