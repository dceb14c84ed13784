// The input reader: one byte per call as the search sees it, whatever the
// block size underneath.
#include <cerrno>

#include "module/messages.h"
#include "runtime/runtime.h"
#include "tests/search_fixture.h"

namespace {

class InputReaderTest : public SearchTest {
protected:
    void Open(const std::string& bytes) {
        fs.files["in"].data = bytes;
        g_nInFile = rt::_open("in", _O_BINARY, 0);
        ASSERT_NE(g_nInFile, -1);
        BeginInput();
    }
    void TearDown() override {
        rt::_close(g_nInFile);
        SearchTest::TearDown();
    }
};

TEST_F(InputReaderTest, EmptyInputIsEndAtOnceAndEveryTimeAfter) {
    Open("");
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(ReadInputChar().IsEmpty());
        EXPECT_EQ(g_strStatus, STATUS_FILE_END);
        EXPECT_EQ(InputEof(), 1);
    }
}

TEST_F(InputReaderTest, ZeroByteIsEmptyButNotTheEnd) {
    Open(std::string("\0x", 2));
    CString zero = ReadInputChar();
    EXPECT_TRUE(zero.IsEmpty());
    EXPECT_TRUE(g_strStatus.IsEmpty());
    EXPECT_EQ(InputEof(), 0);
    EXPECT_EQ(ReadInputChar(), "x");
}

TEST_F(InputReaderTest, LastByteThenEnd) {
    Open("ab");
    EXPECT_EQ(ReadInputChar(), "a");
    EXPECT_EQ(ReadInputChar(), "b");
    EXPECT_EQ(g_strStatus, "b");
    EXPECT_EQ(InputEof(), 1);
    EXPECT_TRUE(ReadInputChar().IsEmpty());
    EXPECT_EQ(g_strStatus, STATUS_FILE_END);
    EXPECT_EQ(InputEof(), 1);  // not -1: the input stays open
}

TEST_F(InputReaderTest, BytesPassUnchanged) {
    std::string bytes = "\x81\x40\r\n\x1a\xff\x7f\t";
    Open(bytes);
    for (char expected : bytes) {
        CString got = ReadInputChar();
        ASSERT_EQ(got.GetLength(), 1);
        EXPECT_EQ(got[0], expected);
    }
}

TEST_F(InputReaderTest, MoveBackRedeliversTheSameBytesAtAnyBlockSize) {
    std::string bytes;
    for (int i = 0; i < 100; ++i) bytes += static_cast<char>('A' + i % 26);
    for (unsigned int block = 1; block <= 33; ++block) {
        for (std::size_t start = 14; start < 40; ++start) {
            SetInputBlockSize(block);
            Open(bytes);
            for (std::size_t i = 0; i < start; ++i) NextInputByte();
            InputSeekBack(14);
            for (std::size_t i = start - 14; i < start + 3; ++i)
                ASSERT_EQ(NextInputByte(), static_cast<unsigned char>(bytes[i]))
                    << "block " << block << " start " << start;
            rt::_close(g_nInFile);
        }
    }
}

TEST_F(InputReaderTest, EndOfInputTestRefersToBytesDelivered) {
    SetInputBlockSize(8);
    Open("0123456789");
    for (int i = 0; i < 9; ++i) {
        NextInputByte();
        EXPECT_EQ(InputEof(), 0) << i;
    }
    NextInputByte();
    EXPECT_EQ(InputEof(), 1);
    InputSeekBack(3);
    EXPECT_EQ(InputEof(), 0);
}

TEST_F(InputReaderTest, FailedReadDeliversNothingAndIsNotRepeated) {
    fs.files["in"].unreadableFrom = 3;
    Open("abcdef");
    EXPECT_EQ(ReadInputChar(), "a");
    NextInputByte();
    NextInputByte();
    EXPECT_EQ(InputEof(), -1);
    int reads = fs.reads;
    EXPECT_TRUE(ReadInputChar().IsEmpty());
    EXPECT_EQ(InputEof(), -1);
    EXPECT_EQ(fs.reads, reads);
}

}  // namespace
