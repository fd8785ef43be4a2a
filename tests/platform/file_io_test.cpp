// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_io.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace testing_support;

TEST(ReadFileBytes, ReadsWholeFilesAndFailsOtherwise)
{
    TempDir dir;
    const Bytes content = MakeJpeg(40, 30);
    WriteFile(dir.file("a.jpg"), content);
    std::vector<std::uint8_t> out{1, 2, 3};
    ASSERT_TRUE(platform::ReadFileBytes(dir.file("a.jpg"), out).ok());
    EXPECT_EQ(out, content);

    const platform::Result tooBig = platform::ReadFileBytes(dir.file("a.jpg"), out, content.size() - 1);
    EXPECT_EQ(tooBig.error(), EFBIG);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(platform::ReadFileBytes(dir.file("missing"), out).error(), ENOENT);
    EXPECT_EQ(platform::ReadFileBytes(dir.path(), out).error(), EINVAL) << "a folder";
}

TEST(ReadFileBytes, AFileShorterThanItsSizeIsAnError)
{
    // Files under /sys state a size of a page and hold less: the read ends early.
    const std::string path = "/sys/kernel/mm/transparent_hugepage/enabled";
    std::vector<std::uint8_t> out;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || st.st_size != 4096) GTEST_SKIP() << "no such file here";
    const platform::Result result = platform::ReadFileBytes(path, out);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.error(), EIO);
    EXPECT_TRUE(out.empty());
}
