#include "crash/core/settings/SettingsResource.h"

#include "crash/core/settings/SettingsCipher.h"
#include "platform/MessageBox.h"

#include <cstring>

namespace crash {
namespace {

class Reader
{
public:
    explicit Reader(std::span<const std::byte> data) : m_data(data) {}

    bool has(std::size_t n) const { return m_data.size() - m_pos >= n; }

    bool byte(std::uint8_t& out)
    {
        if (!has(1))
            return false;
        out = static_cast<std::uint8_t>(m_data[m_pos++]);
        return true;
    }

    template <typename T> bool little(T& out)
    {
        if (!has(sizeof(T)))
            return false;
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            v |= std::uint64_t(static_cast<std::uint8_t>(m_data[m_pos + i])) << (8 * i);
        m_pos += sizeof(T);
        out = static_cast<T>(v);
        return true;
    }

    const char* take(std::size_t n)
    {
        if (!has(n))
            return nullptr;
        const char* p = reinterpret_cast<const char*>(m_data.data() + m_pos);
        m_pos += n;
        return p;
    }

    bool shortString(std::string& out)
    {
        std::uint8_t length = 0;
        if (!byte(length))
            return false;
        const char* p = take(length);
        if (!p)
            return false;
        out.assign(p, length);
        return true;
    }

private:
    std::span<const std::byte> m_data;
    std::size_t m_pos = 0;
};

bool HasPrefix(Reader& reader)
{
    static constexpr char prefix[] = "TPF0\x08THalvorn\x07Halvorn";
    const std::size_t length = sizeof prefix - 1;
    const char* p = reader.take(length);
    return p && std::memcmp(p, prefix, length) == 0;
}

QString Latin1(const char* p, std::size_t n)
{
    return QString::fromLatin1(p, static_cast<qsizetype>(n));
}

// Reads one value; false when the data ends inside it.
bool ReadValue(Reader& reader, std::uint8_t type, SettingsProperty& property)
{
    switch (static_cast<SettingsValueType>(type)) {
    case SettingsValueType::Int8: {
        std::int8_t v;
        if (!reader.little(v))
            return false;
        property.kind = SettingsKind::Number;
        property.numberValue = v;
        return true;
    }
    case SettingsValueType::Int16: {
        std::int16_t v;
        if (!reader.little(v))
            return false;
        property.kind = SettingsKind::Number;
        property.numberValue = v;
        return true;
    }
    case SettingsValueType::Int32: {
        std::int32_t v;
        if (!reader.little(v))
            return false;
        property.kind = SettingsKind::Number;
        property.numberValue = v;
        return true;
    }
    case SettingsValueType::String:
    case SettingsValueType::Ident: {
        std::string text;
        if (!reader.shortString(text))
            return false;
        property.kind = SettingsKind::Text;
        property.textValue = Latin1(text.data(), text.size());
        return true;
    }
    case SettingsValueType::False:
    case SettingsValueType::True:
        property.kind = SettingsKind::Flag;
        property.flagValue = type == std::uint8_t(SettingsValueType::True);
        return true;
    case SettingsValueType::LString:
    case SettingsValueType::Utf8String: {
        std::uint32_t length;
        const char* p = nullptr;
        if (!reader.little(length) || !(p = reader.take(length)))
            return false;
        property.kind = SettingsKind::Text;
        property.textValue = type == std::uint8_t(SettingsValueType::LString)
                                 ? Latin1(p, length)
                                 : QString::fromUtf8(p, static_cast<qsizetype>(length));
        return true;
    }
    case SettingsValueType::WString: {
        std::uint32_t units;
        if (!reader.little(units) || !reader.has(std::size_t(units) * 2))
            return false;
        QString text(static_cast<qsizetype>(units), Qt::Uninitialized);
        for (std::uint32_t i = 0; i < units; ++i) {
            std::uint16_t unit = 0;
            reader.little(unit);
            text[i] = QChar(unit);
        }
        property.kind = SettingsKind::Text;
        property.textValue = text;
        return true;
    }
    }
    return false;
}

bool IsKnownType(std::uint8_t type)
{
    switch (static_cast<SettingsValueType>(type)) {
    case SettingsValueType::Int8:
    case SettingsValueType::Int16:
    case SettingsValueType::Int32:
    case SettingsValueType::String:
    case SettingsValueType::Ident:
    case SettingsValueType::False:
    case SettingsValueType::True:
    case SettingsValueType::LString:
    case SettingsValueType::WString:
    case SettingsValueType::Utf8String:
        return true;
    }
    return false;
}

} // namespace

SettingsParseResult ParseSettingsResource(std::span<const std::byte> data)
{
    SettingsParseResult result;
    Reader reader(data);
    if (!HasPrefix(reader)) {
        result.status = SettingsParseStatus::BadSignature;
        return result;
    }
    for (;;) {
        SettingsProperty property;
        std::uint8_t type = 0;
        if (!reader.shortString(property.name) || (!property.name.empty() && !reader.byte(type))) {
            result.status = SettingsParseStatus::Truncated;
            return result;
        }
        if (property.name.empty())
            return result; // the end marker
        if (!IsKnownType(type)) {
            result.status = SettingsParseStatus::UnknownType;
            result.unknownType = type;
            const QString hex = QString::number(type, 16).toUpper().rightJustified(2, QLatin1Char('0'));
            platform::ShowMessageBox(QStringLiteral("Internal error: Invalid settings resource (") + hex +
                                         QStringLiteral(")."),
                                     QString::fromLatin1(SettingsCaption), platform::MsgIcon::Error);
            return result;
        }
        if (!ReadValue(reader, type, property)) {
            result.status = SettingsParseStatus::Truncated;
            return result;
        }
        result.properties.append(std::move(property));
    }
}

void DecipherSettingsPasswords(SettingsPropertyList& properties)
{
    struct Triple
    {
        const char* password;
        const char* account;
        const char* server;
    };
    static constexpr Triple triples[] = {{"SmtpPassword", "SmtpAccount", "SmtpServer"},
                                         {"HttpPassword", "HttpAccount", "HttpServer"},
                                         {"BugTrPassword", "BugTrAccount", "HttpServer"}};
    auto textOf = [&](const char* name) {
        const SettingsProperty* p = properties.find(name);
        return p && p->kind == SettingsKind::Text ? p->textValue : QString();
    };
    for (const Triple& t : triples) {
        SettingsProperty* password = properties.find(t.password);
        if (!password || password->kind != SettingsKind::Text || password->textValue.isEmpty())
            continue;
        password->textValue =
            DecipherPassword(password->textValue, textOf(t.account), textOf(t.server)).value_or(QString());
    }
}

} // namespace crash
