#pragma once
// An ini file for settings that belong to another program or may be in an awkward state: its
// folder is created when missing, a read-only file is made writable, values of any length are
// read whole, writes never raise, and dates are stored in one fixed form whatever the user's
// regional settings ("mm/dd/yyyy hh:mm:ss:zzz").

#include "env/TIniFile.h"

namespace env::PSafeIniFile {

// The parts of a date and time format that reading and writing dates use.
struct TFormatSettings
{
    QChar DateSeparator;
    QChar TimeSeparator;
    QChar DecimalSeparator;
    QString ShortDateFormat;
    QString LongDateFormat;
    QString ShortTimeFormat;
    QString LongTimeFormat;
    int TwoDigitYearCenturyWindow = 0;
};

// Built once at start-up: en-US defaults with "/" and ":" and the fixed formats above.
extern const TFormatSettings IniDateTimeFormat;

// A bare file name is bound to the current folder ("./" + name); a missing folder is created
// (up to 101 attempts); a read-only file is made writable.
void PrepareFileName(QString& fileName);

// Text to date and time with the given format, month first; milliseconds only after the
// decimal separator; text after the seconds is ignored. False when the date or time is invalid.
bool TryStrToDateTime(const QString& text, QDateTime& value, const TFormatSettings& format);

class TIniFile : public env::TIniFile
{
public:
    explicit TIniFile(QString fileName);
    // Prepares the file name again and flushes, so the file is left writable.
    ~TIniFile() override;

    QString ReadString(const QString& section, const QString& ident,
                       const QString& defaultValue) const override;
    void WriteString(const QString& section, const QString& ident, const QString& value) override;
    QDateTime ReadDateTime(const QString& section, const QString& name,
                           const QDateTime& defaultValue) const override;
    void WriteDateTime(const QString& section, const QString& name, const QDateTime& value) override;
    void EraseSection(const QString& section) override;
    void UpdateFile() override;
};

} // namespace env::PSafeIniFile
