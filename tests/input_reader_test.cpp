// The input reader: one byte per call as the search sees it, whatever the
// block size underneath.
#include <memory>

#include "runtime/runtime.h"
#include "search/searcher.h"
#include "tests/search_fixture.h"

namespace {

struct NoRecords : SearchSink {
    bool Records(const char*, std::size_t) override { return true; }
};

class InputReaderTest : public SearchTest {
protected:
    void Open(const std::string& bytes, unsigned int block = Searcher::kBlockSize) {
        Close();
        fs.files["in"].data = bytes;
        fd_ = rt::_open("in", _O_BINARY, 0);
        ASSERT_NE(fd_, -1);
        reader_.reset(new Searcher(sink_, "", false));
        reader_->SetBlockSize(block);
        reader_->BeginInput(fd_);
    }
    void Close() {
        if (fd_ != -1) rt::_close(fd_);
        fd_ = -1;
    }
    void TearDown() override {
        Close();
        SearchTest::TearDown();
    }
    int Next() { return reader_->NextByte(); }
    int Eof() { return reader_->Eof(); }
    int Last() { return reader_->Last(); }

    NoRecords sink_;
    std::unique_ptr<Searcher> reader_;
    int fd_ = -1;
};

TEST_F(InputReaderTest, EmptyInputIsEndAtOnceAndEveryTimeAfter) {
    Open("");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Next(), 0);
        EXPECT_EQ(Last(), kLastWasEnd);
        EXPECT_EQ(Eof(), 1);
    }
}

TEST_F(InputReaderTest, ZeroByteIsNotTheEnd) {
    Open(std::string("\0x", 2));
    EXPECT_EQ(Next(), 0);
    EXPECT_EQ(Last(), 0);
    EXPECT_EQ(Eof(), 0);
    EXPECT_EQ(Next(), 'x');
}

TEST_F(InputReaderTest, LastByteThenEnd) {
    Open("ab");
    EXPECT_EQ(Next(), 'a');
    EXPECT_EQ(Next(), 'b');
    EXPECT_EQ(Last(), 'b');
    EXPECT_EQ(Eof(), 1);
    EXPECT_EQ(Next(), 0);
    EXPECT_EQ(Last(), kLastWasEnd);
    EXPECT_EQ(Eof(), 1);  // not -1: the input stays open
}

TEST_F(InputReaderTest, BytesPassUnchanged) {
    std::string bytes = "\x81\x40\r\n\x1a\xff\x7f\t";
    Open(bytes);
    for (char expected : bytes) ASSERT_EQ(Next(), static_cast<unsigned char>(expected));
}

TEST_F(InputReaderTest, MoveBackRedeliversTheSameBytesAtAnyBlockSize) {
    std::string bytes;
    for (int i = 0; i < 100; ++i) bytes += static_cast<char>('A' + i % 26);
    for (unsigned int block = 1; block <= 33; ++block) {
        for (std::size_t start = 14; start < 40; ++start) {
            Open(bytes, block);
            for (std::size_t i = 0; i < start; ++i) Next();
            reader_->SeekBack(14);
            for (std::size_t i = start - 14; i < start + 3; ++i)
                ASSERT_EQ(Next(), static_cast<unsigned char>(bytes[i])) << "block " << block << " start " << start;
        }
    }
}

TEST_F(InputReaderTest, EndOfInputTestRefersToBytesDelivered) {
    Open("0123456789", 8);
    for (int i = 0; i < 9; ++i) {
        Next();
        EXPECT_EQ(Eof(), 0) << i;
    }
    Next();
    EXPECT_EQ(Eof(), 1);
    reader_->SeekBack(3);
    EXPECT_EQ(Eof(), 0);
}

TEST_F(InputReaderTest, FailedReadDeliversNothingAndIsNotRepeated) {
    fs.files["in"].unreadableFrom = 3;
    Open("abcdef");
    fs.files["in"].unreadableFrom = 3;
    EXPECT_EQ(Next(), 'a');
    Next();
    Next();
    EXPECT_EQ(Eof(), -1);
    int reads = fs.reads;
    EXPECT_EQ(Next(), 0);
    EXPECT_EQ(Eof(), -1);
    EXPECT_EQ(fs.reads, reads);
}

}  // namespace
