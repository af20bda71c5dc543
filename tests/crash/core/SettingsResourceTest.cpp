// The settings text converter and the settings stream parser, checked against each other.
#include "crash/core/settings/SettingsResource.h"
#include "support/MessageBoxRecorder.h"
#include "SettingsText.h"
#include "crash/core/settings/SettingsCipher.h"

#include <QFile>
#include <QVariant>
#include <gtest/gtest.h>

#include <vector>

using crash::ParseSettingsResource;
using crash::SettingsKind;
using crash::SettingsParseStatus;
using crash::SettingsValueType;

namespace {

std::vector<std::byte> Bytes(const QByteArray& data)
{
    std::vector<std::byte> out(std::size_t(data.size()));
    if (!out.empty())
        std::memcpy(out.data(), data.constData(), out.size());
    return out;
}

tools::SettingsTextDocument Compile(const QString& text)
{
    tools::SettingsTextDocument document;
    QString error;
    EXPECT_TRUE(tools::ParseSettingsText(text, document, error)) << error.toStdString();
    return document;
}

QString CompileError(const QString& text)
{
    tools::SettingsTextDocument document;
    QString error;
    EXPECT_FALSE(tools::ParseSettingsText(text, document, error));
    return error;
}

crash::SettingsParseResult Parse(const QByteArray& stream)
{
    const std::vector<std::byte> exact = Bytes(stream); // heap block of exact size: over-reads show
    return ParseSettingsResource(exact);
}

QByteArray ProgramStream()
{
    QFile file(QStringLiteral(HALVORN_PROGRAM_SETTINGS));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return tools::WriteSettingsStream(Compile(QString::fromUtf8(file.readAll())));
}

} // namespace

TEST(SettingsStream, SmallDocumentHasTheExactLayout)
{
    const QByteArray stream = tools::WriteSettingsStream(
        Compile(QStringLiteral("object Halvorn: THalvorn\n  Port = 25\n  On = True\n  Name = 'ab'\nend\n")));
    const QByteArray expected("TPF0\x08THalvorn\x07Halvorn"
                              "\x04Port\x02\x19"
                              "\x02On\x09"
                              "\x04Name\x06\x02"
                              "ab"
                              "\x00",
                              4 + 9 + 8 + 7 + 4 + 9 + 1);
    EXPECT_EQ(stream.toHex(' '), expected.toHex(' '));
}

TEST(SettingsStream, EveryValueTypeSurvivesTheRoundTrip)
{
    const QString longText = QString(300, QLatin1Char('x')) + QChar(0xE9);
    const QString source =
        QStringLiteral("// comment line\n"
                       "object Halvorn: THalvorn\n"
                       "  I8 = -128\n"
                       "  I8b = 127 // trailing comment\n"
                       "  I16 = 128\n"
                       "  I16b = -32768\n"
                       "  I32 = 32768\n"
                       "  I32b = -2147483648\n"
                       "  Latin = 'Gr\u00FC\u00DFe ''quoted'''#13#10'x'\n"
                       "  Ident = bsFlat\n"
                       "  Off = False\n"
                       "  On = true\n"
                       "  Long = '") +
        longText +
        QStringLiteral("'\n"
                       "  Wide = utf16'\u041E\u0448\u0438\u0431\u043A\u0430 \u4E16\u754C '#128512\n"
                       "  Utf = utf8'\u65E5\u672C\u8A9E \u2013 \u00FC'\n"
                       "  Empty = ''\n"
                       "end\n");
    const tools::SettingsTextDocument document = Compile(source);
    const std::vector<std::pair<SettingsValueType, QVariant>> expected = {
        {SettingsValueType::Int8, -128},
        {SettingsValueType::Int8, 127},
        {SettingsValueType::Int16, 128},
        {SettingsValueType::Int16, -32768},
        {SettingsValueType::Int32, 32768},
        {SettingsValueType::Int32, -2147483647 - 1},
        {SettingsValueType::String, QStringLiteral("Gr\u00FC\u00DFe 'quoted'\r\nx")},
        {SettingsValueType::Ident, QStringLiteral("bsFlat")},
        {SettingsValueType::False, false},
        {SettingsValueType::True, true},
        {SettingsValueType::LString, longText},
        {SettingsValueType::WString, QStringLiteral("\u041E\u0448\u0438\u0431\u043A\u0430 \u4E16\u754C ") +
                                         QString::fromUcs4(U"\U0001F600", 1)},
        {SettingsValueType::Utf8String, QStringLiteral("\u65E5\u672C\u8A9E \u2013 \u00FC")},
        {SettingsValueType::String, QString()},
    };
    ASSERT_EQ(document.entries.size(), expected.size());

    testsupport::MessageBoxRecorder boxes;
    const auto parsed = Parse(tools::WriteSettingsStream(document));
    EXPECT_EQ(parsed.status, SettingsParseStatus::Complete);
    EXPECT_TRUE(boxes.boxes().isEmpty());
    ASSERT_EQ(parsed.properties.count(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(document.entries[i].name);
        EXPECT_EQ(document.entries[i].type, expected[i].first);
        const crash::SettingsProperty& p = parsed.properties.at(i);
        EXPECT_EQ(p.name, document.entries[i].name);
        switch (expected[i].first) {
        case SettingsValueType::Int8:
        case SettingsValueType::Int16:
        case SettingsValueType::Int32:
            EXPECT_EQ(p.kind, SettingsKind::Number);
            EXPECT_EQ(p.numberValue, expected[i].second.toInt());
            break;
        case SettingsValueType::False:
        case SettingsValueType::True:
            EXPECT_EQ(p.kind, SettingsKind::Flag);
            EXPECT_EQ(p.flagValue, expected[i].second.toBool());
            break;
        default:
            EXPECT_EQ(p.kind, SettingsKind::Text);
            EXPECT_EQ(p.textValue, expected[i].second.toString());
        }
    }
}

TEST(SettingsStream, ConverterRejectsWhatItCannotWrite)
{
    EXPECT_TRUE(
        CompileError(QStringLiteral("object Halvorn: THalvorn\n  A = 1\n")).contains(QLatin1String("end")));
    EXPECT_TRUE(CompileError(QStringLiteral("  A = 1\nend\n")).startsWith(QLatin1String("line 1:")));
    EXPECT_TRUE(CompileError(QStringLiteral("object H: T\n  A = 2147483648\nend\n"))
                    .startsWith(QLatin1String("line 2:")));
    EXPECT_TRUE(CompileError(QStringLiteral("object H: T\n  A = '\u041E'\nend\n"))
                    .contains(QLatin1String("Latin-1")));
    EXPECT_TRUE(CompileError(QStringLiteral("object H: T\n  A = 'open\nend\n"))
                    .contains(QLatin1String("unterminated")));
    EXPECT_TRUE(
        CompileError(QStringLiteral("object H: T\n  A = 'x' y\nend\n")).startsWith(QLatin1String("line 2:")));
    EXPECT_TRUE(CompileError(QStringLiteral("object H: T\n  A 1\nend\n")).contains(QLatin1String("=")));
    EXPECT_TRUE(
        CompileError(QStringLiteral("object H: T\n  A = #55296\nend\n")).contains(QLatin1String("code")));
    EXPECT_TRUE(
        CompileError(QStringLiteral("object H: T\nend\n  A = 1\n")).startsWith(QLatin1String("line 3:")));
}

TEST(SettingsStream, WrongPrefixYieldsNoKeys)
{
    testsupport::MessageBoxRecorder boxes;
    QByteArray stream = ProgramStream();
    EXPECT_GT(Parse(stream).properties.count(), 100u);

    for (int at : {0, 3, 5, 12, 20}) { // signature, class name, object name
        QByteArray broken = stream;
        broken[at] = char(broken[at] ^ 0x20);
        const auto parsed = Parse(broken);
        EXPECT_EQ(parsed.status, SettingsParseStatus::BadSignature) << at;
        EXPECT_TRUE(parsed.properties.isEmpty()) << at;
    }
    EXPECT_EQ(Parse(QByteArray()).status, SettingsParseStatus::BadSignature);
    EXPECT_TRUE(boxes.boxes().isEmpty());
}

TEST(SettingsStream, UnknownValueTypeStopsWithAMessageAndKeepsWhatWasRead)
{
    testsupport::MessageBoxRecorder boxes;
    const QByteArray head = tools::WriteSettingsStream(
        Compile(QStringLiteral("object Halvorn: THalvorn\n  A = 1\n  B = 'b'\nend\n")));
    QByteArray stream = head.left(head.size() - 1); // without the end marker
    stream += "\x01"
              "C\x0A"
              "junk";
    stream += QByteArray("\x01"
                         "D\x09\x00",
                         4);
    const auto parsed = Parse(stream);
    EXPECT_EQ(parsed.status, SettingsParseStatus::UnknownType);
    EXPECT_EQ(parsed.unknownType, 0x0A);
    ASSERT_EQ(parsed.properties.count(), 2u);
    EXPECT_EQ(parsed.properties.at(1).textValue, QStringLiteral("b"));
    EXPECT_EQ(boxes.boxes(),
              QStringList{QStringLiteral("Halvorn|Internal error: Invalid settings resource (0A).")});
}

TEST(SettingsStream, StreamCutShortAnywhereStopsInsideItsData)
{
    testsupport::MessageBoxRecorder boxes;
    const QByteArray full = tools::WriteSettingsStream(
        Compile(QStringLiteral(
                    "object Halvorn: THalvorn\n  A = 1\n  B = 300\n  C = 70000\n  D = 'short'\n  E = True\n"
                    "  F = '") +
                QString(260, QLatin1Char('l')) +
                QStringLiteral("'\n  G = utf16'wide'\n  H = utf8'\u00FC'\n"
                               "  I = ident\nend\n")));
    const auto complete = Parse(full);
    ASSERT_EQ(complete.status, SettingsParseStatus::Complete);
    for (qsizetype length = 0; length < full.size(); ++length) {
        const auto parsed = Parse(full.left(length));
        ASSERT_NE(parsed.status, SettingsParseStatus::Complete) << length;
        ASSERT_LE(parsed.properties.count(), complete.properties.count());
        for (std::size_t i = 0; i < parsed.properties.count(); ++i)
            ASSERT_EQ(parsed.properties.at(i).name, complete.properties.at(i).name);
    }
    // Lengths that claim more than there is.
    for (const char type : {char(12), char(18), char(20)}) {
        QByteArray huge = full.left(21);
        huge += QByteArray("\x01X", 2) + type + QByteArray("\xff\xff\xff\x7f", 4) + "abc";
        EXPECT_EQ(Parse(huge).status, SettingsParseStatus::Truncated);
    }
    EXPECT_TRUE(boxes.boxes().isEmpty());
}

TEST(SettingsStream, ProgramSettingsHoldSmtpPortTwice)
{
    const auto parsed = Parse(ProgramStream());
    ASSERT_EQ(parsed.status, SettingsParseStatus::Complete);
    std::vector<int> ports;
    for (std::size_t i = 0; i < parsed.properties.count(); ++i) {
        if (parsed.properties.at(i).name == "SmtpPort")
            ports.push_back(parsed.properties.at(i).numberValue);
    }
    EXPECT_EQ(ports, (std::vector<int>{25, 0}));
    EXPECT_EQ(parsed.properties.find("SmtpPort")->numberValue, 25);
}

TEST(SettingsPropertyList, StartsWith147EntriesAndGrowsBy20)
{
    crash::SettingsPropertyList list;
    EXPECT_EQ(list.capacity(), 0u);
    for (int i = 0; i < 148; ++i) {
        crash::SettingsProperty p;
        p.name = "K" + std::to_string(i);
        list.append(p);
        EXPECT_EQ(list.capacity(), i < 147 ? 147u : 167u);
    }
}

TEST(SettingsCipher, PasswordsRoundTripOnlyForTheirAccountAndServer)
{
    const QString password = QStringLiteral("p\u00E4ss \u5BC6\u7801 \U0001F511");
    const QString stored =
        crash::EncipherPassword(password, QStringLiteral("me"), QStringLiteral("smtp.example"));
    EXPECT_FALSE(stored.contains(QStringLiteral("p\u00E4ss")));
    EXPECT_EQ(crash::DecipherPassword(stored, QStringLiteral("me"), QStringLiteral("smtp.example")),
              password);
    EXPECT_NE(crash::EncipherPassword(password, QStringLiteral("me"), QStringLiteral("smtp.example")),
              stored);
    EXPECT_EQ(crash::DecipherPassword(stored, QStringLiteral("you"), QStringLiteral("smtp.example")),
              std::nullopt);
    EXPECT_EQ(crash::DecipherPassword(stored, QStringLiteral("me"), QStringLiteral("other")), std::nullopt);
    QString tampered = stored;
    tampered[20] = tampered[20] == QLatin1Char('0') ? QLatin1Char('1') : QLatin1Char('0');
    EXPECT_EQ(crash::DecipherPassword(tampered, QStringLiteral("me"), QStringLiteral("smtp.example")),
              std::nullopt);
    EXPECT_EQ(crash::DecipherPassword(QStringLiteral("plain text"), {}, {}), std::nullopt);
    EXPECT_EQ(crash::DecipherPassword(crash::EncipherPassword({}, {}, {}), {}, {}), QString());
}

TEST(SettingsCipher, ParsedPasswordsAreDecipheredWithTheirPartners)
{
    const QString smtp = crash::EncipherPassword(QStringLiteral("mail-secret"), QStringLiteral("robot"),
                                                 QStringLiteral("smtp.example"));
    const QString tracker = crash::EncipherPassword(QStringLiteral("bug-secret"), QStringLiteral("tracker"),
                                                    QStringLiteral("bugs.example"));
    const QString text = QStringLiteral("object Halvorn: THalvorn\n"
                                        "  SmtpServer = 'smtp.example'\n  SmtpAccount = 'robot'\n"
                                        "  SmtpPassword = '%1'\n"
                                        "  HttpServer = 'bugs.example'\n  BugTrAccount = 'tracker'\n"
                                        "  BugTrPassword = '%2'\n"
                                        "  HttpAccount = 'web'\n  HttpPassword = 'not enciphered'\n"
                                        "end\n")
                             .arg(smtp, tracker);
    auto parsed = Parse(tools::WriteSettingsStream(Compile(text)));
    crash::DecipherSettingsPasswords(parsed.properties);
    EXPECT_EQ(parsed.properties.find("SmtpPassword")->textValue, QStringLiteral("mail-secret"));
    EXPECT_EQ(parsed.properties.find("BugTrPassword")->textValue, QStringLiteral("bug-secret"));
    EXPECT_EQ(parsed.properties.find("HttpPassword")->textValue, QString());
}
