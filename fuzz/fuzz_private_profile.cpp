// Profile file parser: any bytes must parse, serialize back unchanged, and take a write that
// reads back while every other line keeps its bytes and every other value stays as it was.
#include "FuzzCheck.h"

#include "platform/PrivateProfile.h"

#include <QList>
#include <QMap>
#include <cstdlib>

using fuzz::check;
using platform::ProfileDocument;

namespace {

QMap<QString, QString> allValues(const ProfileDocument& doc)
{
    QMap<QString, QString> values;
    for (const QString& section : doc.sectionNames())
        for (const QString& key : doc.keyNames(section))
            values.insert(section.toLower() + QChar(0) + key.toLower(),
                          doc.value(section, key).value_or(QString()));
    return values;
}

bool isUtf16(ProfileDocument::Encoding e)
{
    return e == ProfileDocument::Encoding::Utf16Le || e == ProfileDocument::Encoding::Utf16Be;
}

// The lines of an 8-bit or UTF-8 file as bytes, without their terminators.
QList<QByteArray> byteLines(const QByteArray& bytes)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\r' && bytes[i] != '\n')
            continue;
        lines.append(bytes.mid(start, i - start));
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < bytes.size())
        lines.append(bytes.mid(start));
    return lines;
}

// A write changes one key line or adds lines (a blank one, the section header, the key line);
// every other line keeps its bytes, whichever way a new read decodes them.
void checkUntouchedLines(const QByteArray& before, const QByteArray& after)
{
    const QList<QByteArray> a = byteLines(before), b = byteLines(after);
    qsizetype prefix = 0;
    while (prefix < a.size() && prefix < b.size() && a[prefix] == b[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < a.size() - prefix && suffix < b.size() - prefix &&
           a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix])
        ++suffix;
    const qsizetype removed = a.size() - prefix - suffix, added = b.size() - prefix - suffix;
    check(removed <= 1 && added >= removed && added <= 3);
    for (qsizetype i = prefix; i < prefix + added; ++i)
        check(b[i].isEmpty() || b[i] == "[Fuzz]" || b[i].endsWith("=Value 1"));
}

// The written bytes read with the decoding the original was read with: an 8-bit file whose only
// byte that is not UTF-8 the write replaced would otherwise read as UTF-8. A stray line that is
// not UTF-8, appended, keeps it 8-bit without changing any name or value.
ProfileDocument rereadAs(ProfileDocument::Encoding encoding, const QByteArray& written)
{
    ProfileDocument doc = ProfileDocument::parse(written);
    if (doc.encoding() != encoding &&
        (encoding == ProfileDocument::Encoding::Ansi || encoding == ProfileDocument::Encoding::AnsiBom))
        doc = ProfileDocument::parse(written + "\n\xFF");
    check(doc.encoding() == encoding);
    return doc;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    ProfileDocument doc = ProfileDocument::parse(bytes);
    check(doc.serialize() == bytes); // whatever the bytes, nothing is lost or changed

    const QString section = QStringLiteral("Fuzz"), key = QStringLiteral("Key"),
                  value = QStringLiteral("Value 1");
    QMap<QString, QString> before = allValues(doc);
    doc.setValue(section, key, value);
    const QByteArray written = doc.serialize();
    if (!isUtf16(doc.encoding()))
        checkUntouchedLines(bytes, written);
    const ProfileDocument reread = rereadAs(doc.encoding(), written);
    check(reread.value(section, key) == value);
    QMap<QString, QString> after = allValues(reread);
    const QString writtenKey = section.toLower() + QChar(0) + key.toLower();
    before.remove(writtenKey);
    after.remove(writtenKey);
    check(before == after);

    ProfileDocument erased = reread;
    erased.removeSection(section);
    check(!ProfileDocument::parse(erased.serialize()).hasSection(section));
    return 0;
}
