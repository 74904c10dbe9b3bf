#pragma once
// Where the installation log of a run is written.
#include "app/configuration.h"

// Opens the installation log: at the --log path when given, else as "installation_log.txt" in
// the log folder, where the previous run's log is kept as "installation_log.previous.txt".
// False when it cannot be opened.
bool OpenInstallationLog(const Configuration& configuration);
