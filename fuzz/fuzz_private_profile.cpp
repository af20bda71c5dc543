// Profile file parser: any bytes must parse, serialize back unchanged, and take a write that
// reads back while every other value stays as it was.
#include "FuzzCheck.h"

#include "platform/PrivateProfile.h"

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
    const ProfileDocument reread = ProfileDocument::parse(doc.serialize());
    check(reread.value(section, key) == value);
    QMap<QString, QString> after = allValues(reread);
    const QString written = section.toLower() + QChar(0) + key.toLower();
    before.remove(written);
    after.remove(written);
    check(before == after);

    ProfileDocument erased = reread;
    erased.removeSection(section);
    check(!ProfileDocument::parse(erased.serialize()).hasSection(section));
    return 0;
}
