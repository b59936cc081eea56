// Running a test body in a child process of its own, for what happens once
// per process (a device bring-up, a driver's sticky error).
#pragma once

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace kvn::test {

// The bring-up happens once per process, so every test that brings the
// device up runs its body in a child process of its own (a death test that
// must exit with 0). EXPECT and ASSERT work inside the body as usual; a
// child does not print its results, so its failures are written to stderr,
// which the parent shows when the child exits with 1.
// Runs in the child: the body, then its failures to stderr, then the exit code.
template <typename Body>
[[noreturn]] void runChildBody(Body& body) {
    ::testing::TestPartResultArray results;
    {
        ::testing::ScopedFakeTestPartResultReporter reporter(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
        body();
    }
    bool failed = false;
    for (int i = 0; i < results.size(); ++i) {
        const ::testing::TestPartResult& r = results.GetTestPartResult(i);
        if (!r.failed()) continue;
        failed = true;
        std::fprintf(stderr, "%s:%d: %s\n", r.file_name() ? r.file_name() : "?", r.line_number(), r.message());
    }
    std::fflush(nullptr);
    // No static destructors: the driver's threads may still run.
    std::_Exit(failed ? 1 : 0);
}

// `stderr_pattern`: a regular expression the child's standard error must match.
template <typename Body>
void inChildProcess(Body body, const char* stderr_pattern = "") {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(runChildBody(body), ::testing::ExitedWithCode(0), stderr_pattern);
}

}  // namespace kvn::test
