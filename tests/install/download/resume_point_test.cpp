// Resuming a broken download: the request for the rest and how the answer is taken.
#include "install/download/resume_point.h"

#include <gtest/gtest.h>

namespace {

TEST(ResumePoint, TheRestIsAskedForOnlyOfTheSameFile) {
    EXPECT_EQ("", ResumeHeaders({0, "\"a\""})) << "nothing kept";
    EXPECT_EQ("", ResumeHeaders({100, ""})) << "no validator";
    EXPECT_EQ("Range: bytes=100-\r\nIf-Range: \"a\"\r\n", ResumeHeaders({100, "\"a\""}));
    EXPECT_EQ("\"a\"", ValidatorOf("\"a\"", "Tue, 08 Dec 2026 10:00:00 GMT"));
    EXPECT_EQ("Tue, 08 Dec 2026 10:00:00 GMT", ValidatorOf("W/\"a\"", "Tue, 08 Dec 2026 10:00:00 GMT"));
    EXPECT_EQ("", ValidatorOf("", ""));
}

TEST(ResumePoint, AnswersAreTakenAsTheyCome) {
    const ResumePoint point{100, "\"a\""};
    struct Case {
        const char* what;
        unsigned long status;
        const char* range;
        const char* validator;
        ResumeAnswer answer;
    } cases[] = {
        {"the rest of the same file", 206, "bytes 100-999/1000", "\"a\"", ResumeAnswer::Continues},
        {"the rest, no validator repeated", 206, "bytes 100-999/*", "", ResumeAnswer::Continues},
        {"the whole file (ranges ignored, or it changed)", 200, "", "\"b\"", ResumeAnswer::Whole},
        {"another range", 206, "bytes 0-999/1000", "\"a\"", ResumeAnswer::Unusable},
        {"another file", 206, "bytes 100-999/1000", "\"b\"", ResumeAnswer::Unusable},
        {"no range named", 206, "", "\"a\"", ResumeAnswer::Unusable},
        {"a range past its length", 206, "bytes 100-999/999", "\"a\"", ResumeAnswer::Unusable},
        {"garbage", 206, "bytes 100-x/1000", "\"a\"", ResumeAnswer::Unusable},
    };
    for (const Case& test : cases)
        EXPECT_EQ(test.answer, JudgeResumeAnswer(point, test.status, test.range, test.validator)) << test.what;
    EXPECT_EQ(ResumeAnswer::Unusable, JudgeResumeAnswer({}, 206, "bytes 0-9/10", "")) << "a 206 nobody asked for";
    const auto range = ParseContentRange("bytes 21-40/18446744073709551615");
    ASSERT_TRUE(range);
    EXPECT_EQ(21u, range->first);
    EXPECT_EQ(UINT64_MAX, range->length);
    EXPECT_FALSE(ParseContentRange("bytes 1-2/184467440737095516150")) << "overflow";
}

}  // namespace
