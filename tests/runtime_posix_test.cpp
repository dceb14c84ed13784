// The POSIX backend keeps the Windows C runtime's meanings.
#include <gtest/gtest.h>

#include <cstdio>
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
    char back[6];
    EXPECT_EQ(rt::ReadAt(fd, back, 6, 0), 6);
    EXPECT_EQ(std::string(back, 6), std::string(bytes, 6));
    EXPECT_EQ(rt::_eof(fd), 1);  // a read at an offset leaves the position
    EXPECT_EQ(rt::ReadAt(fd, back, 6, 6), 0);
    EXPECT_EQ(rt::_close(fd), 0);
    fd = rt::_open(path.c_str(), _O_BINARY, 0);
    EXPECT_EQ(rt::_eof(fd), 0);
    EXPECT_EQ(rt::_read(fd, back, 6), 6);
    EXPECT_EQ(std::string(back, 6), std::string(bytes, 6));
    EXPECT_EQ(rt::_read(fd, back, 6), 0);
    EXPECT_EQ(rt::_eof(fd), 1);
    EXPECT_EQ(rt::_close(fd), 0);
    EXPECT_EQ(rt::_eof(fd), -1);  // no longer open
}

TEST_F(PosixBackendTest, SpawnWaitsAndReturnsExitStatus) {
    std::string script = Path("viewer.sh");
    std::string log = Path("viewer.log");
    {
        std::FILE* f = std::fopen(script.c_str(), "w");
        std::fprintf(f, "#!/bin/sh\nsleep 0.2\necho \"[$0][$1]\" > '%s'\nexit 7\n", log.c_str());
        std::fclose(f);
    }
    chmod(script.c_str(), 0755);
    EXPECT_EQ(rt::_spawnl(_P_WAIT, script.c_str(), script.c_str(), " varnel_kb.hlp"), 7);
    std::FILE* f = std::fopen(log.c_str(), "r");  // written just before the exit: the call waited
    ASSERT_NE(f, nullptr);
    char line[512] = {};
    std::fgets(line, sizeof line, f);
    std::fclose(f);
    EXPECT_EQ(std::string(line), "[" + script + "][ varnel_kb.hlp]\n");
    EXPECT_EQ(rt::_spawnl(_P_WAIT, Path("none").c_str(), "none", "x"), -1);
}

TEST_F(PosixBackendTest, MissingFileWithoutCreateFails) {
    EXPECT_EQ(rt::_open(Path("none").c_str(), _O_BINARY, 0), -1);
}

}  // namespace
