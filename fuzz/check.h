// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A broken invariant is a crash, so libFuzzer keeps the input and stops.
#include <QString>
#include <QStringList>
#include <QStringView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#define FUZZ_CHECK(cond, ...)                                                                   \
    do {                                                                                        \
        if (!(cond)) {                                                                          \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #cond);   \
            std::fprintf(stderr, "  %s\n", qPrintable(QString(__VA_ARGS__)));                   \
            std::abort();                                                                       \
        }                                                                                       \
    } while (0)

// The fuzz input as text. UTF-8 reaches every character (fullwidth digits, NULs, surrogates
// decoded as replacement characters), and the seeds stay readable files.
inline QString fuzzText(const uint8_t *data, size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
}

// A copy of the text in a heap block of exactly its length. A QString keeps a terminator
// behind its characters, so a parser reading one past the end would go unnoticed there;
// here it is a heap overflow that AddressSanitizer reports.
class ExactText
{
public:
    explicit ExactText(QStringView text)
        : m_size(text.size()), m_chars(new char16_t[size_t(m_size)])
    {
        std::copy(text.utf16(), text.utf16() + m_size, m_chars.get());
    }
    QStringView view() const { return QStringView(m_chars.get(), m_size); }

private:
    qsizetype m_size;
    std::unique_ptr<char16_t[]> m_chars;
};

// The same for bytes, as the core takes its text.
class ExactBytes
{
public:
    explicit ExactBytes(std::string_view bytes) : m_size(bytes.size()), m_bytes(new char[m_size ? m_size : 1])
    {
        std::copy(bytes.begin(), bytes.end(), m_bytes.get());
    }
    std::string_view view() const { return std::string_view(m_bytes.get(), m_size); }

private:
    size_t m_size;
    std::unique_ptr<char[]> m_bytes;
};

// The core's text for the checks' messages and comparisons: UTF-8, or one character a byte
// where the core takes a file's bytes as they are (scripts).
inline QString utf8(std::string_view s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
inline QString latin1(std::string_view s)
{
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}
inline QStringList latin1List(const std::vector<std::string> &texts)
{
    QStringList out;
    for (const std::string &t : texts)
        out << latin1(t);
    return out;
}
inline std::string bytesOf(const QString &latin1Text)
{
    return latin1Text.toLatin1().toStdString();
}
inline std::vector<std::string> bytesOf(const QStringList &latin1Texts)
{
    std::vector<std::string> out;
    for (const QString &t : latin1Texts)
        out.push_back(bytesOf(t));
    return out;
}
