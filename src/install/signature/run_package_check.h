#pragma once
// The run's check of its package, between the download and the extraction.
#ifdef _WIN32
#include "common/unique_handle.h"

class RunContext;

// Checks the run's package before anything in it is unpacked. On success |held| keeps the package
// unchangeable until the caller is done reading it. A package that fails is deleted and fails the
// run ("The downloaded package is not authentic."); it is not downloaded again. False also when
// the run was cancelled during the check.
bool CheckRunPackage(RunContext& run, unique_handle& held);
#endif
