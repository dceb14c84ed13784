// The string type: its boundary form, sharing and the bytes it holds.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/cstring.h"

namespace {

const CString::Header& HeaderOf(const char* data) { return reinterpret_cast<const CString::Header*>(data)[-1]; }

TEST(CStringTest, HeaderLiesDirectlyBeforeTheText) {
    CString s("abc");
    const char* p = s;
    EXPECT_EQ(sizeof(CString), sizeof(char*));
    EXPECT_EQ(sizeof(CString::Header), 12u);
    EXPECT_EQ(HeaderOf(p).refs, 1);
    EXPECT_EQ(HeaderOf(p).length, 3);
    EXPECT_GE(HeaderOf(p).capacity, 3);
    EXPECT_EQ(p[3], '\0');
}

TEST(CStringTest, EmptyStringsShareTheStaticBlock) {
    CString a, b("");
    EXPECT_EQ(static_cast<const char*>(a), CString::EmptyData());
    EXPECT_EQ(static_cast<const char*>(b), CString::EmptyData());
    EXPECT_EQ(HeaderOf(CString::EmptyData()).refs, -1);
    CString c(a);
    EXPECT_EQ(HeaderOf(CString::EmptyData()).refs, -1);
}

TEST(CStringTest, CopiesShareUntilWritten) {
    CString a("abc");
    CString b(a);
    EXPECT_EQ(static_cast<const char*>(a), static_cast<const char*>(b));
    EXPECT_EQ(HeaderOf(a).refs, 2);
    b += 'd';
    EXPECT_NE(static_cast<const char*>(a), static_cast<const char*>(b));
    EXPECT_EQ(a, "abc");
    EXPECT_EQ(b, "abcd");
    EXPECT_EQ(HeaderOf(a).refs, 1);
}

TEST(CStringTest, EmptyingOrAssigningASharedCopyLeavesTheOriginal) {
    const struct {
        const char* name;
        void (*write)(CString&);
        const char* result;
    } writes[] = {
        {"Empty", [](CString& s) { s.Empty(); }, ""},
        {"text", [](CString& s) { s = "x"; }, "x"},
        {"char", [](CString& s) { s = 'x'; }, "x"},
    };
    for (const auto& w : writes) {
        SCOPED_TRACE(w.name);
        CString a("abc");
        CString b(a);
        w.write(b);
        EXPECT_EQ(std::string(a, a.GetLength()), "abc");
        EXPECT_EQ(std::string(b, b.GetLength()), w.result);
        EXPECT_EQ(HeaderOf(a).refs, 1);
    }
}

TEST(CStringTest, HoldsEveryByteValue) {
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    CString s(all.data(), static_cast<int>(all.size()));
    s += '\0';
    s += CString("\xff\0x", 3);
    ASSERT_EQ(s.GetLength(), 260);
    EXPECT_EQ(std::string(s, 260), all + std::string("\0\xff\0x", 4));
    // As a plain text it ends at its first 0 byte.
    EXPECT_TRUE(s == "");
    EXPECT_EQ(CString("ab\0c", 4), "ab");
}

TEST(CStringTest, RightTakesTheLastBytes) {
    CString s("http://a.jp/x.HTML");
    EXPECT_EQ(s.Right(5), ".HTML");
    EXPECT_EQ(s.Right(100), "http://a.jp/x.HTML");
    EXPECT_TRUE(s.Right(0).IsEmpty());
    CString z("a\0.htm", 6);
    CString tail = z.Right(4);
    EXPECT_EQ(tail.GetLength(), 4);
    EXPECT_EQ(tail, ".htm");
}

TEST(CStringTest, AppendingItselfAndAssigningItsOwnText) {
    CString s("ab");
    s += s;
    EXPECT_EQ(s, "abab");
    const char* inside = static_cast<const char*>(s) + 1;
    s = inside;
    EXPECT_EQ(s, "bab");
    for (int i = 0; i < 10; ++i) s += s;
    EXPECT_EQ(s.GetLength(), 3 * 1024);
}

TEST(CStringTest, ConcatenationOperators) {
    CString a("ab");
    EXPECT_EQ(a + 'c', "abc");
    EXPECT_EQ(a + "cd", "abcd");
    EXPECT_EQ("xy" + a, "xyab");
    EXPECT_EQ(a + a, "abab");
    EXPECT_EQ(a, "ab");
}

TEST(CStringTest, EmptyingKeepsAPrivateBlockForReuse) {
    CString s("a long enough text");
    const char* block = s;
    s.Empty();
    EXPECT_TRUE(s.IsEmpty());
    s = "short";
    EXPECT_EQ(static_cast<const char*>(s), block);
}

TEST(CStringTest, AdoptDetachAndRelease) {
    // A block built as a host program builds it, holding two references.
    auto* h = static_cast<CString::Header*>(std::malloc(sizeof(CString::Header) + 4));
    h->refs = 2;
    h->length = 3;
    h->capacity = 3;
    std::memcpy(h + 1, "xyz", 4);
    char* data = reinterpret_cast<char*>(h + 1);
    {
        CString adopted = CString::Adopt(data);
        EXPECT_EQ(adopted, "xyz");
        CString copy(adopted);
        EXPECT_EQ(h->refs, 3);
    }
    EXPECT_EQ(h->refs, 1);
    CString last = CString::Adopt(data);
    char* again = last.Detach();
    EXPECT_EQ(again, data);
    EXPECT_TRUE(last.IsEmpty());
    CString::Release(again);  // frees the block: the leak checkers would say otherwise
}

}  // namespace
