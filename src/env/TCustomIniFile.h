#pragma once
// The abstract ini file: sections of key=value lines reached one value at a time. Typed reads and
// writes are built on ReadString/WriteString, so a class that replaces those two changes them all.

#include "platform/Exception.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTime>
#include <cstdint>

namespace env {

class EIniFileException : public platform::Exception
{
public:
    using platform::Exception::Exception;
    QString className() const override { return QStringLiteral("EIniFileException"); }
};

class TCustomIniFile
{
public:
    explicit TCustomIniFile(QString fileName) : m_fileName(std::move(fileName)) {}
    virtual ~TCustomIniFile() = default;
    TCustomIniFile(const TCustomIniFile&) = delete;
    TCustomIniFile& operator=(const TCustomIniFile&) = delete;

    const QString& FileName() const { return m_fileName; }
    bool SectionExists(const QString& section) const;

    virtual QString ReadString(const QString& section, const QString& ident,
                               const QString& defaultValue) const = 0;
    virtual void WriteString(const QString& section, const QString& ident, const QString& value) = 0;
    // Decimal, or hexadecimal written "0x1F" / "$1F"; anything else gives the default.
    virtual int32_t ReadInteger(const QString& section, const QString& ident, int32_t defaultValue) const;
    virtual void WriteInteger(const QString& section, const QString& ident, int32_t value);
    virtual bool ReadBool(const QString& section, const QString& ident, bool defaultValue) const;
    virtual void WriteBool(const QString& section, const QString& ident, bool value);
    // Bytes stored as hexadecimal text.
    virtual QByteArray ReadBinaryStream(const QString& section, const QString& name) const;
    // Dates, times and numbers in the user's regional format.
    virtual QDate ReadDate(const QString& section, const QString& name, const QDate& defaultValue) const;
    virtual QDateTime ReadDateTime(const QString& section, const QString& name,
                                   const QDateTime& defaultValue) const;
    virtual double ReadFloat(const QString& section, const QString& name, double defaultValue) const;
    virtual QTime ReadTime(const QString& section, const QString& name, const QTime& defaultValue) const;
    virtual void WriteBinaryStream(const QString& section, const QString& name, const QByteArray& value);
    virtual void WriteDate(const QString& section, const QString& name, const QDate& value);
    virtual void WriteDateTime(const QString& section, const QString& name, const QDateTime& value);
    virtual void WriteFloat(const QString& section, const QString& name, double value);
    virtual void WriteTime(const QString& section, const QString& name, const QTime& value);
    virtual QStringList ReadSection(const QString& section) const = 0; // the key names
    virtual QStringList ReadSections() const = 0;
    virtual QStringList ReadSectionValues(const QString& section) const; // "key=value" lines
    virtual void EraseSection(const QString& section) = 0;
    virtual void DeleteKey(const QString& section, const QString& ident) = 0;
    virtual void UpdateFile() = 0;
    virtual bool ValueExists(const QString& section, const QString& ident) const;

protected:
    QString m_fileName;
};

// Integer text as the runtime reads it: optional blanks and sign, decimal digits or "$" and up
// to eight hexadecimal digits, nothing after; the default for anything else or an overflow.
int32_t StrToIntDef(const QString& text, int32_t defaultValue);

} // namespace env
