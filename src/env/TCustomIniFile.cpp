#include "env/TCustomIniFile.h"

#include <QLocale>

namespace env {
namespace {

QString localeDateTimeFormat()
{
    return QLocale().dateFormat(QLocale::ShortFormat) + QStringLiteral(" HH:mm:ss");
}

} // namespace

int32_t StrToIntDef(const QString& text, int32_t defaultValue)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i) == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
        negative = text.at(i++) == QLatin1Char('-');
    bool hex = false;
    if (i < text.size() && text.at(i) == QLatin1Char('$')) {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text.at(i) == QLatin1Char('0') &&
               (text.at(i + 1) == QLatin1Char('x') || text.at(i + 1) == QLatin1Char('X'))) {
        hex = true;
        i += 2;
    }
    if (i >= text.size())
        return defaultValue;
    uint64_t value = 0;
    int digits = 0;
    for (; i < text.size(); ++i, ++digits) {
        const char16_t c = text.at(i).unicode();
        int digit = -1;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (hex && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (hex && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        if (digit < 0)
            return defaultValue;
        value = value * (hex ? 16 : 10) + uint64_t(digit);
        if (value > 0xFFFFFFFFull)
            return defaultValue;
    }
    if (hex) {
        // Hexadecimal covers all 32 bits: $FFFFFFFF is -1.
        const auto bits = int32_t(uint32_t(value));
        return negative ? int32_t(0u - uint32_t(bits)) : bits;
    }
    const int64_t signedValue = negative ? -int64_t(value) : int64_t(value);
    if (signedValue < INT32_MIN || signedValue > INT32_MAX)
        return defaultValue;
    return int32_t(signedValue);
}

bool TCustomIniFile::SectionExists(const QString& section) const
{
    return !ReadSection(section).isEmpty();
}

int32_t TCustomIniFile::ReadInteger(const QString& section, const QString& ident, int32_t defaultValue) const
{
    QString text = ReadString(section, ident, QString());
    if (text.size() > 2 && text.at(0) == QLatin1Char('0') &&
        (text.at(1) == QLatin1Char('x') || text.at(1) == QLatin1Char('X')))
        text = QLatin1Char('$') + text.mid(2);
    return StrToIntDef(text, defaultValue);
}

void TCustomIniFile::WriteInteger(const QString& section, const QString& ident, int32_t value)
{
    WriteString(section, ident, QString::number(value));
}

bool TCustomIniFile::ReadBool(const QString& section, const QString& ident, bool defaultValue) const
{
    return ReadInteger(section, ident, defaultValue ? 1 : 0) != 0;
}

void TCustomIniFile::WriteBool(const QString& section, const QString& ident, bool value)
{
    WriteString(section, ident, value ? QStringLiteral("1") : QStringLiteral("0"));
}

QByteArray TCustomIniFile::ReadBinaryStream(const QString& section, const QString& name) const
{
    return QByteArray::fromHex(ReadString(section, name, QString()).toLatin1());
}

void TCustomIniFile::WriteBinaryStream(const QString& section, const QString& name, const QByteArray& value)
{
    WriteString(section, name, QString::fromLatin1(value.toHex().toUpper()));
}

QDate TCustomIniFile::ReadDate(const QString& section, const QString& name, const QDate& defaultValue) const
{
    const QString text = ReadString(section, name, QString());
    const QDate date = QLocale().toDate(text, QLocale::ShortFormat);
    return date.isValid() ? date : defaultValue;
}

QDateTime TCustomIniFile::ReadDateTime(const QString& section, const QString& name,
                                       const QDateTime& defaultValue) const
{
    const QString text = ReadString(section, name, QString());
    const QDateTime value = QLocale().toDateTime(text, localeDateTimeFormat());
    return value.isValid() ? value : defaultValue;
}

double TCustomIniFile::ReadFloat(const QString& section, const QString& name, double defaultValue) const
{
    bool ok = false;
    const double value = QLocale().toDouble(ReadString(section, name, QString()), &ok);
    return ok ? value : defaultValue;
}

QTime TCustomIniFile::ReadTime(const QString& section, const QString& name, const QTime& defaultValue) const
{
    const QTime time = QTime::fromString(ReadString(section, name, QString()), QStringLiteral("HH:mm:ss"));
    return time.isValid() ? time : defaultValue;
}

void TCustomIniFile::WriteDate(const QString& section, const QString& name, const QDate& value)
{
    WriteString(section, name, QLocale().toString(value, QLocale::ShortFormat));
}

void TCustomIniFile::WriteDateTime(const QString& section, const QString& name, const QDateTime& value)
{
    WriteString(section, name, QLocale().toString(value, localeDateTimeFormat()));
}

void TCustomIniFile::WriteFloat(const QString& section, const QString& name, double value)
{
    WriteString(section, name, QLocale().toString(value, 'g', 15));
}

void TCustomIniFile::WriteTime(const QString& section, const QString& name, const QTime& value)
{
    WriteString(section, name, value.toString(QStringLiteral("HH:mm:ss")));
}

QStringList TCustomIniFile::ReadSectionValues(const QString& section) const
{
    QStringList lines;
    for (const QString& key : ReadSection(section))
        lines.append(key + QLatin1Char('=') + ReadString(section, key, QString()));
    return lines;
}

bool TCustomIniFile::ValueExists(const QString& section, const QString& ident) const
{
    const QStringList keys = ReadSection(section);
    return std::any_of(keys.begin(), keys.end(),
                       [&](const QString& key) { return key.compare(ident, Qt::CaseInsensitive) == 0; });
}

} // namespace env
