#include "ui/globals.h"

std::atomic<bool> g_cancelRequested{false};
CMainWindow* g_mainWindow = nullptr;
std::atomic<HANDLE> g_childProcess{nullptr};
