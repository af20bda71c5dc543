#include "app/ColorTable.h"

#include "env/TIniFile.h"
#include "platform/MessageBox.h"
#include "platform/WinePrefix.h"

#include <QFile>

namespace app {

std::optional<int32_t> ParseDollarHex(const QString& text)
{
    if (!text.startsWith(QLatin1Char('$')) || text.size() < 2 || text.size() > 9)
        return std::nullopt;
    uint32_t value = 0;
    for (qsizetype i = 1; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        int digit = -1;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + uint32_t(digit);
    }
    return int32_t(value);
}

QString SwapRedBlue(int32_t colour)
{
    const uint32_t v = uint32_t(colour);
    const uint32_t swapped = (v & 0xFF00FF00u) | ((v & 0xFFu) << 16) | ((v >> 16) & 0xFFu);
    return QStringLiteral("%1").arg(swapped, 6, 16, QLatin1Char('0')).toUpper();
}

void WriteColorSettings(const QString& toolFolder, const QString& name, bool rgbToBgr)
{
    // The tool's own files are found without regard to case, as on Windows.
    using platform::WinePrefix;
    const QString path =
        WinePrefix::resolveNativePath(toolFolder + QStringLiteral("classic/color_setting.ini"));
    if (!QFile::exists(path))
        return;
    env::TIniFile table(path);
    table.WriteString(QStringLiteral("validate"), QStringLiteral("skinname"), name);
    if (!rgbToBgr)
        return;
    // The marker picture says the pictures are already in the product's byte order.
    if (QFile::exists(
            WinePrefix::resolveNativePath(toolFolder + QStringLiteral("classic/images/kry9_title.png"))))
        return;

    for (const QString& section : table.ReadSections()) {
        if (section.compare(QLatin1String("validate"), Qt::CaseInsensitive) == 0)
            continue;
        for (const QString& key : table.ReadSection(section)) {
            QString value = table.ReadString(section, key, QString());
            if (value.isEmpty())
                continue;
            if (!value.startsWith(QLatin1Char('$')))
                value.prepend(QLatin1Char('$'));
            if (const auto colour = ParseDollarHex(value))
                table.WriteString(section, key, SwapRedBlue(*colour));
            else
                platform::ShowMessageBox(section + QStringLiteral("  ") + key + QLatin1Char('=') + value +
                                         QStringLiteral(",  fail!"));
        }
    }
}

} // namespace app
