#pragma once
// One attempt at transferring the package from its address into a file: the seam between the
// download stage and the network. The real one speaks HTTP through the system's WinHTTP (which
// also serves SYSTEM and services) through the proxy ChooseProxy picks, asks caches never to
// answer for the server, follows redirects itself (an https address never ends up on anything
// but https), goes on from where the attempt before broke when the server continues the same
// file, and gives up on a transfer that receives no byte for the stall limit.
#ifdef _WIN32
#include <windows.h>

#include <chrono>
#include <functional>
#include <string>

#include "install/run_seams.h"

// The real transfer over the network.
TransferResult TransferPackage(const TransferRequest& request);

// Whether a WinHTTP or system error of a failed connection or read is worth another attempt:
// a refused, reset or dropped connection, a name that does not resolve, a timeout.
bool IsTransientNetworkError(DWORD error);

// The file an attempt receives into before it is moved to |file|: "<file>.partN".
std::wstring AttemptFile(const std::wstring& file, int attempt);

// Removes what attempts (of this run or an earlier one) left of their files ("<file>.part*").
void RemoveAttemptFiles(const std::wstring& file);

// The absolute address a redirect's Location names, from the address that was asked for.
std::wstring ResolveLocation(const std::wstring& base, const std::wstring& location);
#endif
