#pragma once

// Test helper: standard error sent to /dev/null for a scope.  Fatal errors
// write their failure report there, and tests that provoke thousands of
// them would otherwise drown their own output.

#include <unistd.h>

#include <cstdio>

namespace orven::test_support {

class SilencedStderr {
public:
    SilencedStderr() : saved_(::dup(STDERR_FILENO)) {
        std::FILE* sink = std::fopen("/dev/null", "w");
        ::dup2(::fileno(sink), STDERR_FILENO);
        std::fclose(sink);
    }
    ~SilencedStderr() {
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
    SilencedStderr(const SilencedStderr&) = delete;
    SilencedStderr& operator=(const SilencedStderr&) = delete;

private:
    int saved_;
};

}  // namespace orven::test_support
