#include "env/PSafeIniFile.h"

#include "platform/PrivateProfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <vector>

namespace env::PSafeIniFile {
namespace {

TFormatSettings makeIniDateTimeFormat()
{
    TFormatSettings f;
    f.DateSeparator = QLatin1Char('/');
    f.TimeSeparator = QLatin1Char(':');
    f.DecimalSeparator = QLatin1Char('.'); // en-US
    f.ShortDateFormat = f.LongDateFormat = QStringLiteral("mm/dd/yyyy");
    f.ShortTimeFormat = f.LongTimeFormat = QStringLiteral("hh:mm:ss:zzz");
    f.TwoDigitYearCenturyWindow = 50;
    return f;
}

QString folderPart(const QString& fileName)
{
    const qsizetype slash = fileName.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    return slash == 0 ? QStringLiteral("/") : fileName.left(slash);
}

class Scanner
{
public:
    Scanner(const QString& text) : m_text(text) {}
    void skipBlanks()
    {
        while (m_pos < m_text.size() && m_text.at(m_pos) == QLatin1Char(' '))
            ++m_pos;
    }
    bool atEnd() const { return m_pos >= m_text.size(); }
    bool number(int& value, int* digits = nullptr)
    {
        int count = 0;
        value = 0;
        while (m_pos < m_text.size() && m_text.at(m_pos).isDigit() && m_text.at(m_pos).unicode() < 128) {
            if (count == 9)
                return false;
            value = value * 10 + (m_text.at(m_pos).unicode() - u'0');
            ++m_pos;
            ++count;
        }
        if (digits)
            *digits = count;
        return count > 0;
    }
    bool take(QChar c)
    {
        if (m_pos < m_text.size() && m_text.at(m_pos) == c) {
            ++m_pos;
            return true;
        }
        return false;
    }
    bool peekIs(QChar c) const { return m_pos < m_text.size() && m_text.at(m_pos) == c; }
    qsizetype pos() const { return m_pos; }
    void setPos(qsizetype pos) { m_pos = pos; }

private:
    const QString& m_text;
    qsizetype m_pos = 0;
};

} // namespace

const TFormatSettings IniDateTimeFormat = makeIniDateTimeFormat();

void PrepareFileName(QString& fileName)
{
    const QString dir = folderPart(fileName);
    if (dir.isEmpty()) {
        // Bound to the current folder, not left to wherever the profile functions would look.
        fileName = QStringLiteral("./") + fileName;
    } else {
        for (int attempt = 0; attempt < 101; ++attempt) {
            if (QFileInfo(dir).isDir())
                break;
            if (!QDir().mkpath(dir))
                break; // an I/O error ends the attempts; the file operations then fail quietly
        }
    }
    const QFileDevice::Permissions writeBits =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if (QFileInfo(fileName).isFile() && !(QFile::permissions(fileName) & writeBits))
        QFile::setPermissions(fileName, QFile::permissions(fileName) | QFileDevice::WriteOwner |
                                            QFileDevice::WriteUser);
}

bool TryStrToDateTime(const QString& text, QDateTime& value, const TFormatSettings& format)
{
    Scanner s(text);
    s.skipBlanks();
    // Month first, as the fixed format writes it.
    int month = 0, day = 0, year = 0, yearDigits = 0;
    if (!s.number(month) || !s.take(format.DateSeparator) || !s.number(day))
        return false;
    if (s.take(format.DateSeparator)) {
        if (!s.number(year, &yearDigits))
            return false;
    } else {
        year = QDate::currentDate().year();
        yearDigits = 4;
    }
    if (yearDigits <= 2) {
        const int century = QDate::currentDate().year() - format.TwoDigitYearCenturyWindow;
        year += century / 100 * 100;
        if (format.TwoDigitYearCenturyWindow > 0 && year < century)
            year += 100;
    }
    const QDate date(year, month, day);
    if (!date.isValid())
        return false;

    s.skipBlanks();
    QTime time(0, 0);
    if (!s.atEnd()) {
        int hour = 0, minute = 0, second = 0, msec = 0;
        if (!s.number(hour) || !s.take(format.TimeSeparator) || !s.number(minute))
            return false;
        const qsizetype beforeSeconds = s.pos();
        if (s.take(format.TimeSeparator) && !s.number(second))
            s.setPos(beforeSeconds); // a lone separator is left-over text
        if (s.take(format.DecimalSeparator)) {
            int digits = 0;
            if (s.number(msec, &digits))
                while (digits > 3) {
                    msec /= 10;
                    --digits;
                }
            for (; digits > 0 && digits < 3; ++digits)
                msec *= 10;
        }
        time = QTime(hour, minute, second, msec);
        if (!time.isValid())
            return false;
    }
    value = QDateTime(date, time);
    return value.isValid();
}

TIniFile::TIniFile(QString fileName) : env::TIniFile(std::move(fileName))
{
    PrepareFileName(m_fileName);
}

TIniFile::~TIniFile()
{
    UpdateFile();
}

QString TIniFile::ReadString(const QString& section, const QString& ident, const QString& defaultValue) const
{
    uint32_t size = 2048;
    for (;;) {
        std::vector<char16_t> buffer(size);
        const uint32_t n = platform::GetPrivateProfileString(&section, &ident, &defaultValue, buffer.data(),
                                                             size, m_fileName);
        if (platform::GetLastError() != platform::ERROR_MORE_DATA)
            return QString::fromUtf16(buffer.data(), n);
        size += size / 2;
    }
}

void TIniFile::WriteString(const QString& section, const QString& ident, const QString& value)
{
    platform::WritePrivateProfileString(&section, &ident, &value, m_fileName);
}

QDateTime TIniFile::ReadDateTime(const QString& section, const QString& name,
                                 const QDateTime& defaultValue) const
{
    const QString text = ReadString(section, name, QString());
    if (text.isEmpty())
        return defaultValue;
    QDateTime value;
    return TryStrToDateTime(text, value, IniDateTimeFormat) ? value : defaultValue;
}

void TIniFile::WriteDateTime(const QString& section, const QString& name, const QDateTime& value)
{
    const TFormatSettings& f = IniDateTimeFormat;
    const QDate d = value.date();
    const QTime t = value.time();
    const auto two = [](int n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    const QString text = two(d.month()) + f.DateSeparator + two(d.day()) + f.DateSeparator +
                         QStringLiteral("%1").arg(d.year(), 4, 10, QLatin1Char('0')) + QLatin1Char(' ') +
                         two(t.hour()) + f.TimeSeparator + two(t.minute()) + f.TimeSeparator +
                         two(t.second()) + f.TimeSeparator +
                         QStringLiteral("%1").arg(t.msec(), 3, 10, QLatin1Char('0'));
    WriteString(section, name, text);
}

void TIniFile::EraseSection(const QString& section)
{
    platform::WritePrivateProfileString(&section, nullptr, nullptr, m_fileName);
}

void TIniFile::UpdateFile()
{
    PrepareFileName(m_fileName);
    platform::WritePrivateProfileString(nullptr, nullptr, nullptr, m_fileName);
}

} // namespace env::PSafeIniFile
