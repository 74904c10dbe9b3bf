#pragma once
// Second stage: unpacks the package into the extraction folder, one progress step per entry.
#ifdef _WIN32
class RunContext;

// Worker body: posts WM_EXTRACT_DONE, or reports "Failed to extract files." when nothing could be
// extracted, or ends quietly when the run was cancelled.
void ExtractStage(RunContext& run);
#endif
