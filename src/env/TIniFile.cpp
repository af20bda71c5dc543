#include "env/TIniFile.h"

#include "platform/PrivateProfile.h"

#include <vector>

namespace env {

TIniFile::~TIniFile()
{
    platform::WritePrivateProfileString(nullptr, nullptr, nullptr, m_fileName);
}

QString TIniFile::ReadString(const QString& section, const QString& ident, const QString& defaultValue) const
{
    // Grown until the value fits: a long value is returned whole, never cut.
    std::vector<char16_t> buffer(2048);
    for (;;) {
        const uint32_t n = platform::GetPrivateProfileString(&section, &ident, &defaultValue, buffer.data(),
                                                             uint32_t(buffer.size()), m_fileName);
        if (platform::GetLastError() != platform::ERROR_MORE_DATA)
            return QString::fromUtf16(buffer.data(), n);
        buffer.assign(buffer.size() * 2, 0);
    }
}

void TIniFile::WriteString(const QString& section, const QString& ident, const QString& value)
{
    if (!platform::WritePrivateProfileString(&section, &ident, &value, m_fileName))
        RaiseWriteError();
}

QStringList TIniFile::ReadList(const QString* section) const
{
    std::vector<char16_t> buffer(16384);
    for (;;) {
        const uint32_t n = platform::GetPrivateProfileString(section, nullptr, nullptr, buffer.data(),
                                                             uint32_t(buffer.size()), m_fileName);
        if (platform::GetLastError() != platform::ERROR_MORE_DATA)
            return QString::fromUtf16(buffer.data(), n).split(QChar(0), Qt::SkipEmptyParts);
        buffer.assign(buffer.size() * 2, 0);
    }
}

QStringList TIniFile::ReadSection(const QString& section) const
{
    return ReadList(&section);
}

QStringList TIniFile::ReadSections() const
{
    return ReadList(nullptr);
}

void TIniFile::EraseSection(const QString& section)
{
    if (!platform::WritePrivateProfileString(&section, nullptr, nullptr, m_fileName))
        RaiseWriteError();
}

void TIniFile::DeleteKey(const QString& section, const QString& ident)
{
    platform::WritePrivateProfileString(&section, &ident, nullptr, m_fileName);
}

void TIniFile::UpdateFile()
{
    platform::WritePrivateProfileString(nullptr, nullptr, nullptr, m_fileName);
}

void TIniFile::RaiseWriteError() const
{
    throw EIniFileException(QStringLiteral("Unable to write to %1").arg(m_fileName));
}

} // namespace env
