#include "crash/core/stack/StackListing.h"

#include <algorithm>
#include <array>

namespace crash::stack {
namespace {

QString Hex16(std::uint64_t v)
{
    return QStringLiteral("%1").arg(v, 16, 16, QLatin1Char('0'));
}

bool HasOffset(const StackEntry& e)
{
    return e.functionStart != 0 && e.address >= e.functionStart;
}

QString RelativeLine(const StackEntry& e)
{
    return e.relativeLine >= 0 ? QStringLiteral("+%1").arg(e.relativeLine) : QString();
}

// Lower-casing that affects A-Z and the three umlauts only, so the value does not depend on the
// locale.
QString LowerForChecksum(const QString& s)
{
    QString out = s;
    for (QChar& c : out) {
        const char16_t u = c.unicode();
        if ((u >= u'A' && u <= u'Z') || u == u'\u00C4' || u == u'\u00D6' || u == u'\u00DC')
            c = QChar(char16_t(u + 0x20));
    }
    return out;
}

std::uint32_t CrcText(std::uint32_t crc, const QString& text)
{
    for (QChar c : text) {
        const std::uint8_t bytes[2] = {std::uint8_t(c.unicode() & 0xFF), std::uint8_t(c.unicode() >> 8)};
        crc = CrcBytes(crc, bytes, 2);
    }
    return crc;
}

} // namespace

QString ComposeListing(const std::vector<StackEntry>& entries, bool showRelAddrs, bool showRelLines)
{
    int offsetWidth = 0, moduleWidth = 0, unitWidth = 0, lineWidth = 0, relWidth = 0;
    for (const auto& e : entries) {
        if (HasOffset(e))
            offsetWidth = std::max<int>(offsetWidth, QString::number(e.address - e.functionStart, 16).size());
        moduleWidth = std::max<int>(moduleWidth, e.module.size());
        unitWidth = std::max<int>(unitWidth, e.unit.size());
        if (e.line > 0)
            lineWidth = std::max<int>(lineWidth, QString::number(e.line).size());
        relWidth = std::max<int>(relWidth, RelativeLine(e).size());
    }
    QStringList lines;
    for (const auto& e : entries) {
        QStringList columns{Hex16(e.address)};
        if (showRelAddrs && offsetWidth > 0) {
            columns << (HasOffset(e) ? QStringLiteral("+%1").arg(e.address - e.functionStart, offsetWidth, 16,
                                                                 QLatin1Char('0'))
                                     : QString(offsetWidth + 1, QLatin1Char(' ')));
        }
        columns << e.module.leftJustified(moduleWidth);
        if (unitWidth > 0)
            columns << e.unit.leftJustified(unitWidth);
        if (lineWidth > 0)
            columns << (e.line > 0 ? QString::number(e.line) : QString()).rightJustified(lineWidth);
        if (showRelLines && relWidth > 0)
            columns << RelativeLine(e).leftJustified(relWidth);
        columns << e.function;
        QString line = columns.join(QLatin1Char(' '));
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        if (!e.note.isEmpty())
            lines << e.note;
        lines << line;
    }
    return lines.join(QStringLiteral("\r\n"));
}

QString FormatSingle(const StackEntry& e, bool known, bool showRelAddrs, bool showRelLines)
{
    QString text = Hex16(e.address);
    if (!known)
        return text + (showRelAddrs ? QStringLiteral(" +0") : QString()) + QStringLiteral(" ???");
    if (showRelAddrs)
        text += QStringLiteral(" +") + QString::number(HasOffset(e) ? e.address - e.functionStart : 0, 16);
    text += QLatin1Char(' ') + e.module + QLatin1Char(' ') + e.unit + QLatin1Char(' ');
    if (e.line > 0)
        text += QString::number(e.line) + QLatin1Char(' ');
    if (showRelLines)
        text += (e.relativeLine >= 0 ? RelativeLine(e) : QStringLiteral("+0")) + QLatin1Char(' ');
    return text + e.function;
}

std::uint32_t CrcBytes(std::uint32_t crc, const void* data, std::size_t size)
{
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i)
        crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

std::uint32_t EntryChecksum(const StackEntry& e)
{
    if (e.functionStart == 0 || e.module.isEmpty() || e.module == QLatin1String("???") ||
        e.function.isEmpty())
        return std::uint32_t(e.address);
    std::uint32_t crc = std::uint32_t(e.address - e.functionStart);
    crc = CrcText(crc, LowerForChecksum(e.module));
    if (!e.unit.isEmpty())
        crc = CrcText(crc, LowerForChecksum(e.unit));
    return CrcText(crc, LowerForChecksum(e.function));
}

void ChecksumEntries(const std::vector<StackEntry>& entries, std::uint32_t& first, std::uint32_t& running,
                     bool& hasLineInfo)
{
    first = running = 0;
    hasLineInfo = false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::uint32_t value = EntryChecksum(entries[i]);
        hasLineInfo = hasLineInfo || entries[i].line > 0;
        if (i == 0) {
            first = running = value;
            continue;
        }
        const std::uint8_t bytes[4] = {std::uint8_t(value), std::uint8_t(value >> 8),
                                       std::uint8_t(value >> 16), std::uint8_t(value >> 24)};
        running = CrcBytes(running, bytes, 4);
    }
}

} // namespace crash::stack
