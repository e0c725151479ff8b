// The text-to-number conversions: value, errno and exactly what they print.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <string>

#include "dbxmldb.h"

namespace {

template <typename T>
void expectConversion(T (*f)(const char *), const char *in, T value, int err, const char *out) {
    const std::string label = in != nullptr ? in : "(null)";
    errno = EBADF;  // the conversion must clear it
    testing::internal::CaptureStdout();
    const T got = f(in);
    const int gotErr = errno;
    EXPECT_EQ(std::tuple(testing::internal::GetCapturedStdout(), got, gotErr),
              std::tuple(out, value, err))
        << label;
}

TEST(Str2ll, Table) {
    const auto check = [](const char *text, long long value, int err, const char *out) {
        expectConversion(&str2ll, text, value, err, out);
    };
    check("0x1F", 31, 0, "");
    check("-42", -42, 0, "");
    check("", 0, 0, "");
    check("42abc", 0, EINVAL, "str2ll: input string, 42abc, is invalid\nstr2ll: abc\n");
    check("0X1F", 0, EINVAL, "str2ll: input string, 0X1F, is invalid\nstr2ll: X1F\n");
    check("9223372036854775807", LLONG_MAX, 0, "");
    check("-99999999999999999999", 0, ERANGE, "");
    check(nullptr, 0, EINVAL, "str2ll: input string is NULL\n");
}

TEST(Str2ull, Table) {
    const auto check = [](const char *text, unsigned long long value, int err, const char *out) {
        expectConversion(&str2ull, text, value, err, out);
    };
    check("-1", ULLONG_MAX, 0, "");
    check("42abc", 0, EINVAL, "str2ull: input string, 42abc, is invalid\n");
    check("99999999999999999999", 0, ERANGE, "");
    check(nullptr, 0, EINVAL, "str2ull: input string is NULL\n");
}

}  // namespace
