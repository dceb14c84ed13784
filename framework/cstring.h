// CString: the module's 8-bit counted string.
//
// In-memory form (the same in every build, and the form in which strings cross
// the exported boundary):
//
//     [int32 refs][int32 length][int32 capacity][text bytes ...][NUL]
//                                               ^ a CString is this one pointer
//
// - refs: number of CString objects sharing the block; -1 marks a static block
//   that is never freed (the shared empty string is one).
// - length, capacity: bytes of text and bytes available for text, neither
//   counting the NUL that always follows the text.
// - Every non-static block is one malloc() allocation, header included, and
//   whoever drops the last reference frees it with free(). Host programs build
//   argument strings the same way, so both sides must use the same C runtime.
//
// The text may hold any byte, 0 included; functions that take or give a plain
// `const char*` see the text up to its first 0 byte, as the C runtime does.
// Copies share the block and copy it on the first write (copy-on-write).
// Allocation failure throws std::bad_alloc.
#ifndef TALVERON_FRAMEWORK_CSTRING_H
#define TALVERON_FRAMEWORK_CSTRING_H

#include <cstdint>

class CString {
public:
    // The header that lies directly before the text.
    struct Header {
        std::int32_t refs;
        std::int32_t length;
        std::int32_t capacity;
    };

    CString() noexcept;
    CString(const char* text);               // up to its first 0 byte; null gives ""
    CString(const char* bytes, int length);  // exactly `length` bytes, 0 bytes included
    CString(const CString& other) noexcept;
    CString(CString&& other) noexcept;
    ~CString();

    CString& operator=(const CString& other);
    CString& operator=(CString&& other) noexcept;
    CString& operator=(const char* text);
    CString& operator=(char ch);

    CString& operator+=(char ch);
    CString& operator+=(const CString& other);
    CString& operator+=(const char* text);
    void Append(const char* bytes, int length);

    // Direct access to the text: GetBuffer makes the block private and able to
    // hold at least `minLength` bytes, keeping the text, and returns it;
    // ReleaseBuffer(length) sets the length (the text before it is kept) and
    // the terminating NUL.
    char* GetBuffer(int minLength) {
        const Header* h = header();
        if (h->refs == 1 && h->capacity >= minLength) return m_pchData;
        return GetBufferSlow(minLength);
    }
    void ReleaseBuffer(int length);

    // The last `count` bytes (the whole string when it is shorter).
    CString Right(int count) const;

    // Equality with a NUL-terminated text, compared up to this string's first
    // 0 byte, as strcmp compares.
    bool operator==(const char* text) const;
    bool operator!=(const char* text) const { return !(*this == text); }

    int GetLength() const noexcept { return header()->length; }
    bool IsEmpty() const noexcept { return GetLength() == 0; }
    void Empty();
    char operator[](int index) const noexcept { return m_pchData[index]; }
    operator const char*() const noexcept { return m_pchData; }

    // Boundary form. Adopt takes over one reference of a block built in the
    // form above (by a host program or by Detach); Detach gives this object's
    // reference away and leaves the object empty. The caller of Detach owns
    // the returned reference and must pass it to Adopt or Release.
    static CString Adopt(char* data) noexcept;
    char* Detach() noexcept;
    static void Release(char* data) noexcept;

    // The shared static empty block's text pointer.
    static char* EmptyData() noexcept;

private:
    Header* header() const noexcept { return reinterpret_cast<Header*>(m_pchData) - 1; }
    void AssignBytes(const char* bytes, int length);
    char* GetBufferSlow(int minLength);
    // Makes the block private and able to hold `length` bytes; keeps the text.
    void PrepareWrite(int length);
    static char* Allocate(int capacity);

    char* m_pchData;
};

CString operator+(const CString& left, const CString& right);
CString operator+(const CString& left, char right);
CString operator+(const CString& left, const char* right);
CString operator+(const char* left, const CString& right);

#endif
