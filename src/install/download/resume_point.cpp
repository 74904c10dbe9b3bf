#include "install/download/resume_point.h"

#include <cctype>

namespace {

// Digits at |at| as a number; moves |at| past them. None without a digit or on overflow.
std::optional<std::uint64_t> Number(const std::string& text, std::size_t& at) {
    std::uint64_t value = 0;
    const std::size_t start = at;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
        const auto digit = static_cast<std::uint64_t>(text[at] - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    if (at == start) return std::nullopt;
    return value;
}

}  // namespace

std::string ValidatorOf(const std::string& etag, const std::string& lastModified) {
    if (!etag.empty() && etag.rfind("W/", 0) != 0) return etag;
    return lastModified;
}

std::string ResumeHeaders(const ResumePoint& point) {
    if (!point.Usable()) return {};
    return "Range: bytes=" + std::to_string(point.bytes) + "-\r\nIf-Range: " + point.validator + "\r\n";
}

std::optional<ContentRange> ParseContentRange(const std::string& header) {
    const std::string unit = "bytes ";
    if (header.rfind(unit, 0) != 0) return std::nullopt;
    std::size_t at = unit.size();
    const auto first = Number(header, at);
    if (!first || at >= header.size() || header[at++] != '-') return std::nullopt;
    const auto last = Number(header, at);
    if (!last || *last < *first || at >= header.size() || header[at++] != '/') return std::nullopt;
    ContentRange range{*first, 0};
    if (header.substr(at) == "*") return range;
    const auto length = Number(header, at);
    if (!length || at != header.size() || *length <= *last) return std::nullopt;
    range.length = *length;
    return range;
}

ResumeAnswer JudgeResumeAnswer(const ResumePoint& point, unsigned long status, const std::string& contentRange,
                               const std::string& validator) {
    if (status != 206) return ResumeAnswer::Whole;
    const auto range = ParseContentRange(contentRange);
    // The server named the file it answers for; a validator it leaves out is taken on trust only
    // because If-Range asked it to send the whole file had it changed.
    const bool sameFile = validator.empty() || validator == point.validator;
    if (!point.Usable() || !range || range->first != point.bytes || !sameFile) return ResumeAnswer::Unusable;
    return ResumeAnswer::Continues;
}
