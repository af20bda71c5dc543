#include "platform/ChildProgram.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

TEST(ChildProgram, AProgramGetsNoDescriptorOfThisProcessButTheStandardThree)
{
    const int held = open("/dev/null", O_RDONLY); // without close-on-exec, as libraries open files
    ASSERT_GE(held, 3);
    // ls reads the folder through the next free descriptor, 3.
    const platform::ProgramOutput listed =
        platform::RunProgramForOutput("ls", {"-1", "/proc/self/fd"}, 10000);
    close(held);
    ASSERT_TRUE(listed.finished);
    EXPECT_EQ(listed.standardOutput, QByteArray("0\n1\n2\n3\n"));
}
