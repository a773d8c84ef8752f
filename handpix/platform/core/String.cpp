#include "handpix/platform/core/String.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
size_t Clamp(int v, size_t hi) { return v < 0 ? 0 : std::min(static_cast<size_t>(v), hi); }
}  // namespace

int CString::Compare(const char* s) const { return std::strcmp(m_s.c_str(), s ? s : ""); }

int CString::CompareNoCase(const char* s) const {
    const unsigned char* a = reinterpret_cast<const unsigned char*>(m_s.c_str());
    const unsigned char* b = reinterpret_cast<const unsigned char*>(s ? s : "");
    for (;; ++a, ++b) {
        int ca = static_cast<unsigned char>(AsciiLower(static_cast<char>(*a)));
        int cb = static_cast<unsigned char>(AsciiLower(static_cast<char>(*b)));
        if (ca != cb || ca == 0) return ca - cb;
    }
}

CString CString::Left(int n) const { return CString(m_s.substr(0, Clamp(n, m_s.size()))); }
CString CString::Right(int n) const {
    size_t k = Clamp(n, m_s.size());
    return CString(m_s.substr(m_s.size() - k));
}
CString CString::Mid(int first) const { return CString(m_s.substr(Clamp(first, m_s.size()))); }
CString CString::Mid(int first, int n) const {
    size_t f = Clamp(first, m_s.size());
    return CString(m_s.substr(f, Clamp(n, m_s.size() - f)));
}
int CString::Find(char c, int start) const {
    size_t p = m_s.find(c, Clamp(start, m_s.size()));
    return p == std::string::npos ? -1 : static_cast<int>(p);
}
int CString::Find(const char* s, int start) const {
    size_t p = m_s.find(s ? s : "", Clamp(start, m_s.size()));
    return p == std::string::npos ? -1 : static_cast<int>(p);
}
int CString::ReverseFind(char c) const {
    size_t p = m_s.rfind(c);
    return p == std::string::npos ? -1 : static_cast<int>(p);
}
CString& CString::MakeLower() {
    for (char& c : m_s) c = AsciiLower(c);
    return *this;
}
CString& CString::MakeUpper() {
    for (char& c : m_s) c = AsciiUpper(c);
    return *this;
}
int CString::Replace(const char* from, const char* to) {
    if (!from || !*from) return 0;
    std::string f(from), t(to ? to : "");
    int count = 0;
    for (size_t p = m_s.find(f); p != std::string::npos; p = m_s.find(f, p + t.size())) {
        m_s.replace(p, f.size(), t);
        ++count;
    }
    return count;
}
CString& CString::TrimLeft() {
    size_t i = 0;
    while (i < m_s.size() && std::strchr(" \t\r\n", m_s[i]) && m_s[i]) ++i;
    m_s.erase(0, i);
    return *this;
}
CString& CString::TrimRight() {
    while (!m_s.empty() && std::strchr(" \t\r\n", m_s.back()) && m_s.back()) m_s.pop_back();
    return *this;
}

void CString::Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    FormatV(fmt, args);
    va_end(args);
}

void CString::FormatV(const char* fmt, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n < 0) {
        m_s.clear();
        return;
    }
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), fmt, args);
    out.resize(static_cast<size_t>(n));
    m_s = std::move(out);
}

char* CString::GetBuffer(int n) {
    if (n > 0 && m_s.size() < static_cast<size_t>(n)) m_s.resize(static_cast<size_t>(n));
    return m_s.data();
}

void CString::ReleaseBuffer(int n) {
    if (n >= 0 && static_cast<size_t>(n) <= m_s.size()) {
        m_s.resize(static_cast<size_t>(n));
        return;
    }
    m_s.resize(std::strlen(m_s.c_str()));
}
