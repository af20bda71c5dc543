#pragma once
// Writes registry hive files in Wine's text format, for the demo prefix and for tests.

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>

namespace demo {

class HiveWriter
{
public:
    // `relativeTo` is the header comment Wine writes ("REGISTRY\\Machine", ...).
    explicit HiveWriter(QString relativeTo = QStringLiteral("REGISTRY\\\\Machine"),
                        QString arch = QStringLiteral("win64"));

    HiveWriter& key(const QString& path); // following values go to this key
    HiveWriter& string(const QString& name, const QString& value);
    HiveWriter& expandString(const QString& name, const QString& value);
    HiveWriter& dword(const QString& name, uint32_t value);
    HiveWriter& hex(const QString& name, uint32_t type, const QByteArray& data);
    HiveWriter& raw(const QString& line); // a line as it stands, for damaged-file tests

    QByteArray text() const;
    bool save(const QString& filePath) const;

    // Wine's escaping of a string for the file.
    static QString escape(const QString& text);

private:
    QString m_relativeTo;
    QString m_arch;
    QStringList m_lines;
};

} // namespace demo
