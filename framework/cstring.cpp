#include "framework/cstring.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// The shared empty string: a static block (refs -1) with length and capacity 0
// and its terminating NUL.
alignas(CString::Header) std::int32_t s_emptyBlock[4] = {-1, 0, 0, 0};

constexpr std::int32_t kMaxCapacity =
    INT32_MAX - static_cast<std::int32_t>(sizeof(CString::Header)) - 1;

}  // namespace

char* CString::EmptyData() noexcept {
    return reinterpret_cast<char*>(s_emptyBlock + 3);
}

char* CString::Allocate(int capacity) {
    if (capacity < 0 || capacity > kMaxCapacity) throw std::bad_alloc();
    void* block = std::malloc(sizeof(Header) + static_cast<std::size_t>(capacity) + 1);
    if (!block) throw std::bad_alloc();
    Header* h = static_cast<Header*>(block);
    h->refs = 1;
    h->length = 0;
    h->capacity = capacity;
    char* data = reinterpret_cast<char*>(h + 1);
    data[0] = '\0';
    return data;
}

void CString::Release(char* data) noexcept {
    if (data == EmptyData()) return;
    Header* h = reinterpret_cast<Header*>(data) - 1;
    // A count of -1 (or any other count below 1, which no live block has)
    // marks a block that is not ours to free.
    if (h->refs < 1) return;
    if (--h->refs == 0) std::free(h);
}

CString::CString() noexcept : m_pchData(EmptyData()) {}

CString::CString(const char* text) : m_pchData(EmptyData()) {
    if (text) AssignBytes(text, static_cast<int>(std::strlen(text)));
}

CString::CString(const char* bytes, int length) : m_pchData(EmptyData()) {
    AssignBytes(bytes, length);
}

CString::CString(const CString& other) noexcept : m_pchData(other.m_pchData) {
    if (header()->refs >= 1) ++header()->refs;
}

CString::CString(CString&& other) noexcept : m_pchData(other.m_pchData) {
    other.m_pchData = EmptyData();
}

CString::~CString() { Release(m_pchData); }

CString& CString::operator=(const CString& other) {
    if (m_pchData != other.m_pchData) {
        Header* h = other.header();
        if (h->refs >= 1) {
            ++h->refs;
            Release(m_pchData);
            m_pchData = other.m_pchData;
        } else {
            // A static block other than our own empty one: copy its text, as
            // sharing a block we do not count would be unsafe.
            AssignBytes(other.m_pchData, h->length);
        }
    }
    return *this;
}

CString& CString::operator=(CString&& other) noexcept {
    if (this != &other) {
        Release(m_pchData);
        m_pchData = other.m_pchData;
        other.m_pchData = EmptyData();
    }
    return *this;
}

CString& CString::operator=(const char* text) {
    AssignBytes(text ? text : "", text ? static_cast<int>(std::strlen(text)) : 0);
    return *this;
}

CString& CString::operator=(char ch) {
    AssignBytes(&ch, 1);
    return *this;
}

void CString::AssignBytes(const char* bytes, int length) {
    if (length < 0) length = 0;
    if (length == 0) {
        Empty();
        return;
    }
    Header* h = header();
    if (h->refs == 1 && h->capacity >= length) {
        // Our own block is large enough: reuse it (the source may lie inside it).
        std::memmove(m_pchData, bytes, static_cast<std::size_t>(length));
    } else {
        char* fresh = Allocate(length);
        std::memcpy(fresh, bytes, static_cast<std::size_t>(length));
        Release(m_pchData);
        m_pchData = fresh;
        h = header();
    }
    h->length = length;
    m_pchData[length] = '\0';
}

void CString::Empty() {
    Header* h = header();
    if (h->refs == 1) {
        // Keep the block: a string emptied and refilled (such as the address
        // being captured) then needs no new allocation.
        h->length = 0;
        m_pchData[0] = '\0';
    } else {
        Release(m_pchData);
        m_pchData = EmptyData();
    }
}

void CString::PrepareWrite(int length) {
    Header* h = header();
    if (h->refs == 1 && h->capacity >= length) return;
    int capacity = length;
    if (h->refs == 1 && length > h->capacity) {
        // Grow geometrically so that appending byte by byte stays linear.
        long long grown = static_cast<long long>(h->capacity) * 2;
        if (grown > capacity) capacity = grown > kMaxCapacity ? kMaxCapacity : static_cast<int>(grown);
    }
    char* fresh = Allocate(capacity);
    std::memcpy(fresh, m_pchData, static_cast<std::size_t>(h->length) + 1);
    reinterpret_cast<Header*>(fresh)[-1].length = h->length;
    Release(m_pchData);
    m_pchData = fresh;
}

void CString::Append(const char* bytes, int length) {
    if (length <= 0) return;
    int old = GetLength();
    if (length > kMaxCapacity - old) throw std::bad_alloc();
    const char* oldData = m_pchData;
    bool inside = bytes >= oldData && bytes <= oldData + old;
    if (inside) {
        // Appending a piece of ourselves: keep the source alive across a
        // reallocation by holding a reference to the old block.
        CString keep(*this);
        PrepareWrite(old + length);
        std::memcpy(m_pchData + old, bytes, static_cast<std::size_t>(length));
    } else {
        PrepareWrite(old + length);
        std::memcpy(m_pchData + old, bytes, static_cast<std::size_t>(length));
    }
    header()->length = old + length;
    m_pchData[old + length] = '\0';
}

char* CString::GetBufferSlow(int minLength) {
    if (minLength < GetLength()) minLength = GetLength();
    PrepareWrite(minLength);
    return m_pchData;
}

void CString::ReleaseBuffer(int length) {
    if (length < 0) length = 0;
    if (length > header()->capacity) length = header()->capacity;
    if (length == 0 && header()->refs < 1) return;  // the static empty block stays as it is
    header()->length = length;
    m_pchData[length] = '\0';
}

CString& CString::operator+=(char ch) {
    Append(&ch, 1);
    return *this;
}

CString& CString::operator+=(const CString& other) {
    Append(other.m_pchData, other.GetLength());
    return *this;
}

CString& CString::operator+=(const char* text) {
    if (text) Append(text, static_cast<int>(std::strlen(text)));
    return *this;
}

CString CString::Right(int count) const {
    int length = GetLength();
    if (count < 0) count = 0;
    if (count >= length) return *this;
    return CString(m_pchData + length - count, count);
}

bool CString::operator==(const char* text) const {
    return std::strcmp(m_pchData, text ? text : "") == 0;
}

CString CString::Adopt(char* data) noexcept {
    CString s;
    if (data) s.m_pchData = data;
    return s;
}

char* CString::Detach() noexcept {
    char* data = m_pchData;
    m_pchData = EmptyData();
    return data;
}

CString operator+(const CString& left, const CString& right) {
    CString s(left);
    s += right;
    return s;
}

CString operator+(const CString& left, char right) {
    CString s(left);
    s += right;
    return s;
}

CString operator+(const CString& left, const char* right) {
    CString s(left);
    s += right;
    return s;
}

CString operator+(const char* left, const CString& right) {
    CString s(left);
    s += right;
    return s;
}
