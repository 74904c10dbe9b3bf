#pragma once
// First stage: fetches the package of the chosen build into the package file of the run, trying
// again after a transient failure.
#ifdef _WIN32
class RunContext;

// Worker body: logs the build, downloads (up to four attempts; each failed one logs a Warning
// with its number and reason), and posts WM_DOWNLOAD_DONE, or reports the last failure
// ("... \nCheck your Internet connection."), or logs "Downloading canceled".
void DownloadStage(RunContext& run);
#endif
