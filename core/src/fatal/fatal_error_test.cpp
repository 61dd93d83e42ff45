#include "fatal/fatal_error.hpp"

#include <gtest/gtest.h>

namespace orven::fatal {
namespace {

TEST(FatalReport, FirstReportCarriesTheHintAndLaterOnesDoNot) {
    const Location where{"core/src/some/file", 19, 44};
    EXPECT_EQ(format_report("<unnamed>", 42, where, "boom", true, ""),
              "\nthread '<unnamed>' (42) panicked at core/src/some/file:19:44:\nboom\n"
              "note: run with `RUST_BACKTRACE=1` environment variable to display a backtrace\n");
    EXPECT_EQ(format_report("<unnamed>", 42, where, "boom", false, ""),
              "\nthread '<unnamed>' (42) panicked at core/src/some/file:19:44:\nboom\n");
    EXPECT_EQ(format_report("w", 7, where, "boom", true, "stack backtrace:\n  0: f\n"),
              "\nthread 'w' (7) panicked at core/src/some/file:19:44:\nboom\n"
              "stack backtrace:\n  0: f\n");
}

TEST(FatalRaise, ThrowsWithMessageAndLocationOfTheRaisingLine) {
    const std::uint32_t raising_line = __LINE__ + 2;
    try {
        raise("broken invariant");
        FAIL() << "raise returned";
    } catch (const FatalError& error) {
        EXPECT_EQ(error.message(), "broken invariant");
        EXPECT_EQ(error.location().file, "core/src/fatal/fatal_error_test");
        EXPECT_EQ(error.location().line, raising_line);
    }
}

TEST(FatalLocation, StripsOnlyTheExtensionOfTheFileName) {
    EXPECT_EQ(Location::from(std::source_location::current()).file,
              "core/src/fatal/fatal_error_test");
}

}  // namespace
}  // namespace orven::fatal
