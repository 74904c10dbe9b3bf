// TEMPORARY: replaced by the ZIP reader's extraction routine when that branch is merged.
#include "common/log.h"
#include "install/extract_archive.h"

ExtractionResult ExtractArchive(const std::wstring&, const std::wstring&, const ExtractionProgress&,
                                const CancelTest&) {
    Log(LogLevel::Failure, "Cannot open zip file");
    return {};
}
