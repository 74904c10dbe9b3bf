#include "ui/globals.h"

CMainWindow* g_mainWindow = nullptr;
