// Reading a page for one run while other programs use the same file.
#include "platform/InputFile.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace kestrix {
namespace {

std::string Pattern(size_t size, char salt)
{
    std::string text(size, ' ');
    for (size_t i = 0; i < size; ++i)
        text[i] = char('a' + (i * 7 + size_t(salt)) % 26);
    return text;
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    ::close(fd);
}

class InputFileTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    std::string Path(const char* name) const
    {
        return dir.filePath(QString::fromLatin1(name)).toStdString();
    }
};

TEST_F(InputFileTest, LargeFilesAreLentSmallOnesAndHeldOnesRead)
{
    const struct
    {
        size_t size;
        bool openForWriting; // by another descriptor while it is read
        bool lent;
    } cases[] = {
        {100, false, false},
        {largeBufferThreshold - 1, false, false},
        {largeBufferThreshold, false, true},
        // Whole small pages, so that the zero page after the mapping counts.
        {size_t(3) << 20, false, true},
        {(size_t(3) << 20) + 1, false, true},
        // Another program has it open for writing: no lease, so it is read.
        {size_t(2) << 20, true, false},
    };
    for (const auto& c : cases) {
        const std::string path = Path("page.html");
        const std::string bytes = Pattern(c.size, 1);
        WriteFile(path, bytes);
        const int writer = c.openForWriting ? ::open(path.c_str(), O_WRONLY) : -1;
        {
            const InputText text = ReadInputFile(QString::fromStdString(path));
            EXPECT_EQ(text.Lent(), c.lent) << c.size;
            ASSERT_EQ(text.View(), bytes) << c.size;
            // The byte after the text can be read, as after a buffer's.
            if (c.lent) {
                EXPECT_EQ(text.View().data()[c.size], '\0');
            }
        }
        if (writer >= 0)
            ::close(writer);
    }
}

TEST_F(InputFileTest, AWriterWaitsForACopyAndTheBytesReadStayTheFiles)
{
    // Shortened, rewritten, or written into while lent: the other program
    // goes on only once the text is this program's own copy, which still
    // holds the bytes the file had; reading it never faults.
    const size_t size = size_t(4) << 20;
    const std::string path = Path("page.html");
    for (int flags : {O_WRONLY | O_TRUNC, O_WRONLY, O_RDWR}) {
        const std::string before = Pattern(size, 2);
        WriteFile(path, before);
        const InputText text = ReadInputFile(QString::fromStdString(path));
        ASSERT_TRUE(text.Lent());
        std::thread other([&] {
            const int fd = ::open(path.c_str(), flags);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::ftruncate(fd, 10), 0);
            ASSERT_EQ(::write(fd, "0123456789", 10), 10);
            ::close(fd);
        });
        other.join();
        EXPECT_EQ(text.View(), before) << flags;
    }
    // The copy is let go as the mapping was; the next file is lent again.
    WriteFile(path, Pattern(size, 3));
    EXPECT_TRUE(ReadInputFile(QString::fromStdString(path)).Lent());
}

TEST_F(InputFileTest, OneFileIsLentAtATimeAndTheNextIsRead)
{
    const std::string first = Path("first.html"), second = Path("second.html");
    WriteFile(first, Pattern(size_t(2) << 20, 4));
    WriteFile(second, Pattern(size_t(2) << 20, 5));
    const InputText a = ReadInputFile(QString::fromStdString(first));
    const InputText b = ReadInputFile(QString::fromStdString(second));
    EXPECT_TRUE(a.Lent());
    EXPECT_FALSE(b.Lent());
    EXPECT_EQ(a.View(), Pattern(size_t(2) << 20, 4));
    EXPECT_EQ(b.View(), Pattern(size_t(2) << 20, 5));
}

} // namespace
} // namespace kestrix
