// A test that runs the program's routines in-process: the platform reset,
// dos.library open as the start-up leaves it, graphics.library and
// cybergraphics.library open as main leaves them, and the journal recorded.
// At the end every library must be closed again and no call refused.
#ifndef QUILLPEEK_TESTS_PLATFORM_FIXTURE_H
#define QUILLPEEK_TESTS_PLATFORM_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

class PlatformTest : public ::testing::Test
{
  protected:
    void SetUp() override;
    void TearDown() override;

    // Everything journalled since the test began.
    const std::vector<std::string> &journal();
    // The journalled lines that start with one of these call names.
    std::vector<std::string> calls(const std::vector<std::string> &names);
    // Forget what was journalled so far.
    void clear_journal();

  private:
    std::vector<std::string> lines_;
};

#endif
