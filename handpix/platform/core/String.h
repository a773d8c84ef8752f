// CString: a byte string (UTF-8 in memory) with the MFC operations the
// library uses. Indexes and lengths are in bytes.
#pragma once
#include <cstdarg>
#include <string>
#include <string_view>

class CString {
public:
    CString() = default;
    CString(const char* s) : m_s(s ? s : "") {}
    CString(const char* s, int n) : m_s(s ? std::string(s, n > 0 ? static_cast<size_t>(n) : 0) : std::string()) {}
    CString(std::string s) : m_s(std::move(s)) {}
    CString(std::string_view s) : m_s(s) {}
    CString(char c, int repeat = 1) : m_s(repeat > 0 ? static_cast<size_t>(repeat) : 0, c) {}

    operator const char*() const { return m_s.c_str(); }
    const char* c_str() const { return m_s.c_str(); }
    const std::string& str() const { return m_s; }
    std::string_view view() const { return m_s; }

    int GetLength() const { return static_cast<int>(m_s.size()); }
    bool IsEmpty() const { return m_s.empty(); }
    void Empty() { m_s.clear(); }
    char GetAt(int i) const { return m_s[static_cast<size_t>(i)]; }
    void SetAt(int i, char c) { m_s[static_cast<size_t>(i)] = c; }
    char operator[](int i) const { return GetAt(i); }

    CString& operator=(const char* s) { m_s = s ? s : ""; return *this; }
    CString& operator+=(const CString& o) { m_s += o.m_s; return *this; }
    CString& operator+=(const char* s) { if (s) m_s += s; return *this; }
    CString& operator+=(char c) { m_s += c; return *this; }

    friend CString operator+(const CString& a, const CString& b) { return CString(a.m_s + b.m_s); }
    friend CString operator+(const CString& a, const char* b) { return CString(a.m_s + (b ? b : "")); }
    friend CString operator+(const char* a, const CString& b) { return CString((a ? a : "") + b.m_s); }
    friend CString operator+(const CString& a, char c) { return CString(a.m_s + c); }
    friend bool operator==(const CString& a, const CString& b) { return a.m_s == b.m_s; }
    friend bool operator==(const CString& a, const char* b) { return a.m_s == (b ? b : ""); }
    friend bool operator<(const CString& a, const CString& b) { return a.m_s < b.m_s; }

    int Compare(const char* s) const;
    int CompareNoCase(const char* s) const;  // ASCII letters only, like _stricmp

    CString Left(int n) const;
    CString Right(int n) const;
    CString Mid(int first) const;
    CString Mid(int first, int n) const;
    int Find(char c, int start = 0) const;
    int Find(const char* s, int start = 0) const;
    int ReverseFind(char c) const;
    CString& MakeLower();  // ASCII only: other bytes are parts of multibyte characters
    CString& MakeUpper();
    int Replace(const char* from, const char* to);
    CString& TrimLeft();
    CString& TrimRight();

    void Format(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    void FormatV(const char* fmt, va_list args);

    // Writable buffer of at least n bytes; ReleaseBuffer cuts at the first NUL (or at n).
    char* GetBuffer(int n);
    void ReleaseBuffer(int n = -1);

private:
    std::string m_s;
};
