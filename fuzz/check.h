#pragma once
// A broken invariant is a crash, so libFuzzer keeps the input and stops.
#include <QString>
#include <QStringView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

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
