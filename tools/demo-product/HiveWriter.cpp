#include "demo-product/HiveWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace demo {

HiveWriter::HiveWriter(QString relativeTo, QString arch)
    : m_relativeTo(std::move(relativeTo)), m_arch(std::move(arch))
{
}

QString HiveWriter::escape(const QString& text)
{
    QString out;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\') || c == QLatin1Char('"')) {
            out += QLatin1Char('\\');
            out += c;
        } else if (c == QLatin1Char('\n')) {
            out += QLatin1String("\\n");
        } else if (c.unicode() < 0x20 || c.unicode() > 0x7e) {
            // Zero-padded to four digits when a hex digit follows, so it cannot run on.
            const QChar next = i + 1 < text.size() ? text.at(i + 1) : QChar();
            const bool hexFollows =
                next.isDigit() || (next.toLower() >= QLatin1Char('a') && next.toLower() <= QLatin1Char('f'));
            out += QStringLiteral("\\x") +
                   QString::number(c.unicode(), 16).rightJustified(hexFollows ? 4 : 1, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out;
}

HiveWriter& HiveWriter::key(const QString& path)
{
    QString escaped = path;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    m_lines << QString() << QStringLiteral("[%1] 1796629034").arg(escaped)
            << QStringLiteral("#time=1dd861dc71d5b56");
    return *this;
}

static QString nameField(const QString& name)
{
    return name.isEmpty() ? QStringLiteral("@")
                          : QLatin1Char('"') + HiveWriter::escape(name) + QLatin1Char('"');
}

HiveWriter& HiveWriter::string(const QString& name, const QString& value)
{
    m_lines << nameField(name) + QStringLiteral("=\"") + escape(value) + QLatin1Char('"');
    return *this;
}

HiveWriter& HiveWriter::expandString(const QString& name, const QString& value)
{
    m_lines << nameField(name) + QStringLiteral("=str(2):\"") + escape(value) + QLatin1Char('"');
    return *this;
}

HiveWriter& HiveWriter::dword(const QString& name, uint32_t value)
{
    m_lines << nameField(name) + QStringLiteral("=dword:") +
                   QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0'));
    return *this;
}

HiveWriter& HiveWriter::hex(const QString& name, uint32_t type, const QByteArray& data)
{
    QString line = nameField(name) +
                   (type == 3 ? QStringLiteral("=hex:") : QStringLiteral("=hex(%1):").arg(type, 0, 16));
    for (int i = 0; i < data.size(); ++i) {
        if (i)
            line += QLatin1Char(',');
        // Wine wraps long values with a trailing backslash.
        if (i && i % 24 == 0)
            line += QStringLiteral("\\\n  ");
        line += QStringLiteral("%1").arg(uchar(data[i]), 2, 16, QLatin1Char('0'));
    }
    m_lines << line;
    return *this;
}

HiveWriter& HiveWriter::raw(const QString& line)
{
    m_lines << line;
    return *this;
}

QByteArray HiveWriter::text() const
{
    QString out = QStringLiteral("WINE REGISTRY Version 2\n;; All keys relative to %1\n\n").arg(m_relativeTo);
    if (!m_arch.isEmpty())
        out += QStringLiteral("#arch=%1\n").arg(m_arch);
    out += m_lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    return out.toUtf8();
}

bool HiveWriter::save(const QString& filePath) const
{
    QDir().mkpath(QFileInfo(filePath).absolutePath());
    QFile f(filePath);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text()) >= 0;
}

} // namespace demo
