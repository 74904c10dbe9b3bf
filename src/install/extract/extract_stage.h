#pragma once
// Second stage, after the package's check: unpacks the package into the extraction folder; the
// progress bar counts entries (posted at most every 50 ms, so that the window still answers input).
#ifdef _WIN32
class RunContext;

// Worker body (the package is checked and held by the caller): posts WM_EXTRACT_DONE, or reports "Failed to extract
// files." when nothing could be extracted, or ends quietly when the run was cancelled.
void ExtractStage(RunContext& run);
#endif
