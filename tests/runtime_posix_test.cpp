// The POSIX backend keeps the Windows C runtime's meanings.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/runtime.h"

namespace {

class PosixBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/talveron-rt-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
    std::string Path(const char* name) const { return dir_ + "/" + name; }
    std::string dir_;
};

TEST_F(PosixBackendTest, DirectoryNeverOpens) {
    EXPECT_EQ(rt::_open(dir_.c_str(), _O_BINARY, 0), -1);
    EXPECT_EQ(rt::_open(dir_.c_str(), _O_BINARY | _O_RDWR, 0), -1);
}

TEST_F(PosixBackendTest, ReadOnlyFileOpensOnlyForReading) {
    std::string path = Path("ro");
    int fd = rt::_open(path.c_str(), _O_BINARY | _O_CREAT | _O_RDWR, 0);  // no _S_IWRITE: read-only
    ASSERT_NE(fd, -1);
    EXPECT_EQ(rt::_write(fd, "kept", 4), 4);
    rt::_close(fd);
    EXPECT_EQ(rt::_open(path.c_str(), _O_BINARY | _O_TRUNC | _O_CREAT | _O_RDWR, _S_IWRITE), -1);
    fd = rt::_open(path.c_str(), _O_BINARY, 0);
    ASSERT_NE(fd, -1);
    char buffer[8];
    EXPECT_EQ(rt::_read(fd, buffer, sizeof buffer), 4);
    rt::_close(fd);
}

TEST_F(PosixBackendTest, BinaryBytesAndEndOfFile) {
    std::string path = Path("bin");
    int fd = rt::_open(path.c_str(), _O_BINARY | _O_TRUNC | _O_CREAT | _O_RDWR, _S_IWRITE);
    ASSERT_NE(fd, -1);
    const char bytes[] = "a\r\n\x1a\0z";
    EXPECT_EQ(rt::_write(fd, bytes, 6), 6);
    EXPECT_EQ(rt::_eof(fd), 1);
    EXPECT_EQ(rt::_lseek(fd, -6, rt::kSeekCur), 0);
    EXPECT_EQ(rt::_eof(fd), 0);
    char back[6];
    EXPECT_EQ(rt::_read(fd, back, 6), 6);
    EXPECT_EQ(std::string(back, 6), std::string(bytes, 6));
    EXPECT_EQ(rt::_read(fd, back, 6), 0);
    EXPECT_EQ(rt::_eof(fd), 1);
    EXPECT_EQ(rt::_close(fd), 0);
    EXPECT_EQ(rt::_eof(fd), -1);  // no longer open
}

TEST_F(PosixBackendTest, MissingFileWithoutCreateFails) {
    EXPECT_EQ(rt::_open(Path("none").c_str(), _O_BINARY, 0), -1);
}

}  // namespace
