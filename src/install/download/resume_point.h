#pragma once
// Resuming a broken download: what an attempt keeps of the package for the next one, the request
// that asks for the rest, and whether the server's answer continues the same file. Portable.
#include <cstdint>
#include <optional>
#include <string>

#include "install/run_seams.h"  // ResumePoint

// The validator of an answer: its ETag unless that is weak (W/"..."), else its Last-Modified;
// empty when it has neither (such a download cannot be resumed).
std::string ValidatorOf(const std::string& etag, const std::string& lastModified);

// The headers that ask for the rest of the package after |point|: a range from its end, only if
// the file is still the one |point| began.
std::string ResumeHeaders(const ResumePoint& point);

enum class ResumeAnswer {
    Continues,  // 206 for the rest of the same file: append
    Whole,      // 200: the whole file (the server cannot or will not resume, or it changed)
    Unusable,   // 206 for another range or another file: this attempt cannot use it
};

// How to take an answer to a request made with ResumeHeaders(|point|).
ResumeAnswer JudgeResumeAnswer(const ResumePoint& point, unsigned long status, const std::string& contentRange,
                               const std::string& validator);

// The first byte and the whole length of "bytes FIRST-LAST/LENGTH" (LENGTH "*" gives 0).
struct ContentRange {
    std::uint64_t first = 0;
    std::uint64_t length = 0;
};
std::optional<ContentRange> ParseContentRange(const std::string& header);
