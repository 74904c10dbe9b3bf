#pragma once
// TEMPORARY stand-in until the ZIP reader's extraction routine is merged (same interface).
#include <cstdint>
#include <functional>
#include <string>

struct ExtractionResult {
    std::uint32_t extracted = 0;
    std::uint32_t total = 0;
};
using ExtractionProgress = std::function<void(std::uint32_t done, std::uint32_t total)>;
using CancelTest = std::function<bool()>;

ExtractionResult ExtractArchive(const std::wstring& packagePath, const std::wstring& extractionFolder,
                                const ExtractionProgress& progress, const CancelTest& cancelRequested);
