// SMTP reply reading: the reply reader on any byte stream cut into any pieces, and a whole client
// session against a server that says whatever the input says. Nothing may crash, hang or read
// past its buffers; every taken reply is a prefix of what arrived.
#include "FuzzCheck.h"

#include "crash/send/SmtpChannel.h"
#include "crash/send/SmtpReplyReader.h"
#include "crash/send/TSmtp.h"

#include <QBuffer>
#include <QCoreApplication>
#include <cstdlib>

using fuzz::check;
using namespace crash::send;

namespace {

// A server whose every answer comes from the input, in pieces whose sizes the input chooses.
class ScriptedChannel : public SmtpChannel
{
public:
    explicit ScriptedChannel(QByteArray script) : m_script(std::move(script)) {}
    bool connectTo(const QHostAddress&, quint16, int) override { return true; }
    bool startTls(const QString&, int) override
    {
        return m_encrypted = !m_script.isEmpty() && m_script[0] & 1;
    }
    bool isEncrypted() const override { return m_encrypted; }
    bool write(const QByteArray&, int) override { return m_open; }
    QByteArray read(int) override
    {
        if (m_script.isEmpty()) {
            m_open = false;
            return {};
        }
        const qsizetype piece = 1 + quint8(m_script[0]) % 97;
        QByteArray out = m_script.mid(1, piece);
        m_script.remove(0, piece + 1);
        return out;
    }
    bool isOpen() const override { return m_open; }
    QString errorText() const override { return {}; }
    void close() override { m_open = false; }

private:
    QByteArray m_script;
    bool m_encrypted = false;
    bool m_open = true;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));

    SmtpReplyReader reader;
    QByteArray received;
    QByteArray taken;
    for (qsizetype i = 0; i < input.size();) {
        const qsizetype piece = 1 + quint8(input[i]) % 31;
        const QByteArray chunk = input.mid(i, piece);
        i += piece;
        received += chunk;
        const auto state = reader.append(chunk);
        if (state == SmtpReplyReader::State::Overflow) {
            check(received.size() - taken.size() >= SmtpReplyReader::Capacity);
            break;
        }
        while (reader.state() == SmtpReplyReader::State::Complete) {
            const QByteArray reply = reader.takeReply();
            check(reply.endsWith("\r\n"));
            taken += reply;
            check(received.startsWith(taken));
        }
    }

    SmtpConnectOptions options;
    options.timeoutMs = 1;
    options.heloName = QStringLiteral("fuzz");
    options.channelFactory = [&input](const SmtpConnectOptions&) {
        return std::make_unique<ScriptedChannel>(input);
    };
    TSmtp smtp(QStringLiteral("127.0.0.1"), QStringLiteral("pw"), QStringLiteral("user"), input.size() & 1,
               input.size() & 2, 25, options);
    if (smtp.isReady()) {
        QByteArray file("attachment");
        QBuffer buffer(&file);
        buffer.open(QIODevice::ReadOnly);
        if (smtp.sendMail(QStringLiteral("a@b.example"),
                          {QStringLiteral("c@d.example"), QStringLiteral("e@f.example")}, QStringLiteral("s"),
                          QStringLiteral("b")))
            smtp.sendAttachment(buffer, file.size(), nullptr, QStringLiteral("x.txt"));
        smtp.finish();
    } else {
        check(!smtp.lastError().isEmpty());
    }
    return 0;
}
