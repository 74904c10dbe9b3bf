#pragma once
// Waiting on the UI thread without freezing the window.
#ifdef _WIN32
#include <windows.h>

// Waits until |object| is signalled while the thread's messages are still dispatched, so that the
// window keeps painting and answering. A handler that runs meanwhile may be one that started the
// wait (a second WM_CLOSE): the caller guards against that. A quit message met during the wait is
// posted again once the wait is over.
void WaitPumpingMessages(HANDLE object);
#endif
