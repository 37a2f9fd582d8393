// SPDX-License-Identifier: GPL-3.0-or-later
// The INI reader and writer held against QSettings, by whose INI form EVM5170.ini was read and
// written until now: on every input, the same failure, the same value of every key, and the
// same bytes written back when one value is set.
#include "ini.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool lookupKey(const QString &key);

struct QtView {
    bool wellFormed = true;
    QStringList keys;
    QStringList texts; // toString() of each key
    bool otherTypes = false; // a Qt value of a type the reader keeps as it was written
};

// The types a value may be read as, in a list too; a Qt value of any other type is kept as
// it was written, where QSettings would decode it and write it in its own way.
bool decodedType(const QVariant &v)
{
    switch (v.metaType().id()) {
    case QMetaType::UnknownType:
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::QString:
    case QMetaType::QStringList:
    case QMetaType::QByteArray:
    case QMetaType::QRect:
    case QMetaType::QSize:
    case QMetaType::QPoint:
        return true;
    case QMetaType::QVariantList:
        for (const QVariant &item : v.toList())
            if (!decodedType(item))
                return false;
        return true;
    default:
        return false;
    }
}

class Reference
{
public:
    Reference() { QVERIFY(m_dir.isValid()); }

    QtView read(const QByteArray &text)
    {
        const QString path = write(text);
        const QSettings settings(path, QSettings::IniFormat);
        QtView view;
        view.keys = settings.allKeys(); // every section parsed, as the program reads the file
        view.wellFormed = settings.status() == QSettings::NoError;
        for (const QString &key : std::as_const(view.keys)) {
            const QVariant value = lookupKey(key) ? settings.value(key) : QVariant();
            view.texts << value.toString();
            view.otherTypes |= !decodedType(value);
        }
        return view;
    }

    QByteArray set(const QByteArray &text, const QString &key, const QString &value)
    {
        const QString path = write(text);
        {
            QSettings settings(path, QSettings::IniFormat);
            settings.setValue(key, value);
            settings.sync();
        }
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }

private:
    // A fresh file each time: QSettings keeps what it read of a file by its name.
    QString write(const QByteArray &text)
    {
        const QString path = m_dir.filePath(QStringLiteral("s%1.ini").arg(m_count++));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    QTemporaryDir m_dir;
    int m_count = 0;
};

// Inputs built from the pieces people and programs put in such files, and some they do not.
QByteArray generated(QRandomGenerator &random)
{
    static const char *const sections[] = {
        "[SerialInterface]", "[serialinterface]", "[SerialInterface", "[ SerialInterface ]", "[General]", "[general]",
        "[%General]", "[]", "[Other]", "[a\\b]", "[%53erial%49nterface]", "[Serial Interface]", "[SerialInterface] ; note",
        "[SerialInterface]x", "[\xC3\xA9t\xC3\xA9]", "[\xFF\xFE]", "[a/b]", "[\"q\"]", "[Serial;Interface]", "[%U0041]",
    };
    static const char *const keys[] = {
        "Type", "Addr", "type", "ADDR", " Type ", "Ty pe", "SerialInterface\\Type", "SerialInterface\\Addr", "%54ype",
        "A%64dr", "Typ%", "%U0054ype", "%UD800", "\xC3\xA9", "\xE2\x82", "x\\y\\z", "", "\"Type\"", "Type\t", "@key",
        "%G1", "%U00zz", "k;", "K",
    };
    static const char *const values[] = {
        "0", "1", "0x45", "$46", "69", "-1", "", " 0x44 ", "\"0x47\"", "\" 1 \"", "0, 1", "\"0, 1\"", "0x44, 0x45",
        "@ByteArray(1)", "@ByteArray(\xC3\xA9)", "@Invalid()", "@Rect(1 2 3 4)", "@Size(5 6)", "@Point(7 8)",
        "@Rect(1 2 3)", "@Rect()", "@@1", "@", "@x", "@String(1)", "@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x1)",
        "a\\tb", "\\x41\\x42", "\\x4g", "\\101", "\\0", "\\0" "1", "tab\\", "\\\\", "\\\"", "\\?\\'", "\\q", "1 ; comment",
        "\"a;b\"", "x=y", "\"unterminated", "a\"b\"c", "\xC3\xA9t\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xE2\x82",
        "\xFF", "\xE2\"\x82\xAC\"", "\\xD800", "\\xD83D\\xDE00", "\\xDC00x", "1,", ",", " , ", "a, @b", "@@a, b",
        "\"\", \"\"", "  padded  ", "\t1\t", "\\\n1", "line\\\r\nnext", "0x7FFFFFFF", "99999999999", "\\x12345",
        "\\777", "\\x7f\\x80", "\x7F", "\x01", "a\\,b", "\"a\"  , b  ", "1\x00" "2", "\xEF\xBB\xBFx",
        "\"\xEF\xBB\xBF\"", "a,\xEF\xBB\xBF", "@Variant(\\0\\0\\0\\x1\\x1)", "@Variant(\\0\\0\\0\\x3\\xff\\xff\\xff\\xff)",
        "@Variant(\\0\\0\\0\\x4\\0\\0\\0\\0\\0\\0\\0E)", "@Variant(\\0\\0\\0\\x5\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff)",
        "@Variant(\\0\\0\\0\\n\\0\\0\\0\\x4\\0\\x34\\0\\x35)", "@Variant(\\0\\0\\0\\f\\0\\0\\0\\x2\\x36\\x39)",
        "@Variant(\\0\\0\\0\\x2\\0)", "@Variant(\\0\\0)", "@Variant()", "@Variant(\\0\\0\\0\\0)",
        "@Variant(\\0\\0\\0\\n\\xff\\xff\\xff\\xff)", "@Variant(\\0\\0\\0\\n\\0\\0\\0\\x3\\0\\x34\\0)",
        "@Variant(\\0\\0\\0\\f\\0\\0\\0\\x9\\x36)", "@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x45\\x99)",
        "@Variant(\\0\\0\\0\\x15\\0\\0\\0\\x5\\0\\0\\0\\x6)", "@Variant(\\0\\0\\0\\x19\\xff\\xff\\xff\\xfe\\0\\0\\0\\x1)",
        "@Variant(\\0\\0\\0\\x13\\0\\0\\0\\x1\\0\\0\\0\\x2\\0\\0\\0\\x3\\0\\0\\0\\x4)", "@Variant(\\0\\0\\0\\x13\\0\\0\\0\\x1)",
        "@Variant(\\0\\0\\0\\x40\\0)", "@Variant(\\0\\0\\0\\x1b\\0)", "@Variant(\\0\\0\\x1\\0\\0)",
    };
    static const char *const others[] = {
        "; a comment", "# not a comment", "IIC", "", "   ", "\t", "=", "==", "=x", "\"=\"", "\\", "\\\n", ";", ";;",
    };
    static const char *const breaks[] = {"\n", "\r\n", "\r", "\n\n", "\n\r", ""};

    QByteArray text;
    if (random.bounded(10) == 0)
        text += "\xEF\xBB\xBF";
    const int lines = int(random.bounded(1, 9));
    for (int i = 0; i < lines; ++i) {
        switch (random.bounded(6)) {
        case 0:
            text += sections[random.bounded(int(std::size(sections)))];
            break;
        case 1:
            text += others[random.bounded(int(std::size(others)))];
            break;
        default:
            text += keys[random.bounded(int(std::size(keys)))];
            text += random.bounded(8) == 0 ? " = " : "=";
            text += values[random.bounded(int(std::size(values)))];
        }
        text += breaks[random.bounded(int(std::size(breaks)))];
    }
    // Now and then a byte of anything, anywhere.
    if (random.bounded(4) == 0 && !text.isEmpty())
        text[int(random.bounded(int(text.size())))] = char(random.bounded(256));
    return text;
}

// A text as the UTF-8 interface gives it back: a surrogate without its partner is U+FFFD.
QString asUtf8Gives(QString text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

// A key the program could look up: QSettings takes a key as the path it names, without empty
// parts ("a//b", "/a", "a/" are "a/b", "a", "a"), and the interface names keys in UTF-8.
bool lookupKey(const QString &key)
{
    return !key.isEmpty() && !key.startsWith(u'/') && !key.endsWith(u'/') && !key.contains(QStringLiteral("//"))
        && asUtf8Gives(key) == key;
}

QString shown(const QByteArray &text)
{
    return QString::fromLatin1(text.toPercentEncoding(" =[]\"\\;,@$"));
}

} // namespace

class TestIni : public QObject
{
    Q_OBJECT
private slots:
    void sameAsQSettings_data();
    void sameAsQSettings();
    void linesForOtherReaders();
    void undecodedValuesKeptAsWritten();
};

void TestIni::sameAsQSettings_data()
{
    QTest::addColumn<QByteArray>("text");

    QDir corpus(QStringLiteral(EVM_SOURCE_DIR "/fuzz/corpus/fuzz_settings"));
    const QStringList seeds = corpus.entryList(QDir::Files);
    QVERIFY(!seeds.isEmpty());
    for (const QString &name : seeds) {
        QFile f(corpus.filePath(name));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QTest::newRow(qPrintable(name)) << f.readAll();
    }
    // The files the other tests read and write.
    for (const char *text : {"", "\n", "[SerialInterface]\nType=0\nAddr=$46\n", "[SerialInterface]\r\nType=0\r\nAddr=0x46\r\n",
                             "[SerialInterface]\nType=0 IIC\n", "[SerialInterface]\nType=0,1\n", "[SerialInterface\nType=0\n",
                             "[SerialInterface]\nType=0\nAddr=0x47\nIIC\n", "[Other]\nnonsense\n[SerialInterface]\nType=0\n",
                             "[Other]\nKeep=1\n", "[SerialInterface]\nAddr=0x44\nType=0\n"})
        QTest::newRow(text) << QByteArray(text);

    // EVM_INI_SEED and EVM_INI_CASES walk other inputs by hand.
    bool given = false;
    const int seed = qEnvironmentVariableIntValue("EVM_INI_SEED", &given);
    const int cases = qEnvironmentVariableIntValue("EVM_INI_CASES");
    QRandomGenerator random(given ? uint(seed) : 5170u);
    for (int i = 0; i < (cases > 0 ? cases : 3000); ++i)
        QTest::newRow(qPrintable(QStringLiteral("generated %1").arg(i))) << generated(random);
}

void TestIni::sameAsQSettings()
{
    QFETCH(QByteArray, text);
    static Reference reference;

    const QtView qt = reference.read(text);
    const evm::ini::Document ours(text.toStdString());
    if (qt.otherTypes || ours.keepsUndecodedValues())
        QSKIP("a binary value of a type the reader keeps as written");
    QVERIFY2(ours.wellFormed() == qt.wellFormed, qPrintable(shown(text)));
    for (int i = 0; i < qt.keys.size(); ++i) {
        if (!lookupKey(qt.keys[i]))
            continue;
        const auto value = ours.text(qt.keys[i].toStdString());
        QVERIFY2(value, qPrintable(QStringLiteral("%1 is missing in %2").arg(qt.keys[i], shown(text))));
        QVERIFY2(QString::fromStdString(*value) == asUtf8Gives(qt.texts[i]),
                 qPrintable(QStringLiteral("%1: '%2', QSettings '%3' in %4")
                                .arg(qt.keys[i], QString::fromStdString(*value), qt.texts[i], shown(text))));
    }

    // Written back whole with one value set, and then another, as the window writes its choice.
    evm::ini::Document once(text.toStdString());
    once.set("SerialInterface/Type", "0");
    const QByteArray qtOnce = reference.set(text, QStringLiteral("SerialInterface/Type"), QStringLiteral("0"));
    QVERIFY2(QByteArray::fromStdString(once.serialized()) == qtOnce,
             qPrintable(QStringLiteral("in %1\nours %2\nQSettings %3")
                            .arg(shown(text), shown(QByteArray::fromStdString(once.serialized())), shown(qtOnce))));
    evm::ini::Document twice(once.serialized());
    twice.set("SerialInterface/Addr", "0x44");
    QCOMPARE(QByteArray::fromStdString(twice.serialized()),
             reference.set(qtOnce, QStringLiteral("SerialInterface/Addr"), QStringLiteral("0x44")));
}

void TestIni::linesForOtherReaders()
{
    // What a reader of its own (the Linux board's configuration) is handed: each line with its
    // number, sections with their names, entries with key and value, comments left out.
    std::vector<std::string> seen;
    const bool whole = evm::ini::forEachLine("; note\r\n[IIC]\r\n  Device = \"/dev/i2c-1\" ; bus\r\n\r\n[SPI\nMode 0\n"
                                             "Speed=1\\\n2\n#x=1\n",
                                             [&](const evm::ini::Line &l) {
                                                 std::string row = std::to_string(l.number) + ":";
                                                 if (l.kind == evm::ini::Line::Kind::Section)
                                                     row += "[" + std::string(l.name) + (l.closed ? "]" : "");
                                                 else if (l.kind == evm::ini::Line::Kind::Entry)
                                                     row += std::string(l.name) + "=" + evm::ini::unescapedValue(l.value).text;
                                                 else
                                                     row += "? " + std::string(l.text);
                                                 seen.push_back(row);
                                                 return true;
                                             });
    QVERIFY(whole);
    const std::vector<std::string> expected{"2:[IIC]", "3:Device=/dev/i2c-1", "5:[SPI", "6:? Mode 0", "7:Speed=12", "9:#x=1"};
    QCOMPARE(seen, expected);
    int visits = 0;
    QVERIFY(!evm::ini::forEachLine("a=1\nb=2\n", [&](const evm::ini::Line &) { return ++visits < 1; }));
    QCOMPARE(visits, 1);
}

void TestIni::undecodedValuesKeptAsWritten()
{
    // A character, a date and time: another Qt program's values, read as no text and written
    // back as they came (QSettings would decode them and write them its own way).
    const std::string text = "[Other]\nc=@Variant(\\0\\0\\0\\a\\0\\x41)\nd=@DateTime(\\0\\0\\0\\x10)\n";
    evm::ini::Document document(text);
    QVERIFY(document.wellFormed());
    QVERIFY(document.keepsUndecodedValues());
    QCOMPARE(document.text("Other/c"), std::optional<std::string>(""));
    document.set("SerialInterface/Type", "1");
    QCOMPARE(document.serialized(), std::string("[Other]\nc=@Variant(\\0\\0\\0\\a\\0\\x41)\nd=@DateTime(\\0\\0\\0\\x10)\n"
                                                "\n[SerialInterface]\nType=1\n"));
}

QTEST_GUILESS_MAIN(TestIni)
#include "tst_ini.moc"
