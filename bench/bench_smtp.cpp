// Mailing a report with a 5 MB attachment to a local aiosmtpd server, against curl sending the
// same MIME message to the same server (libcurl's SMTP). Prints the median of five runs of each
// and their ratio (target: at most 1.2).
//
//   build-bench/bin/bench_smtp
#include "crash/send/MimeMessage.h"
#include "crash/send/SmtpMail.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

using namespace crash::send;

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The message TSmtp sends, written out for curl.
QByteArray SameMessage(const SmtpMailRequest& r, const QByteArray& attachment)
{
    const MimeMessage mime(r.from, r.to, r.subject, r.body, QDateTime::currentDateTimeUtc());
    return mime.head() + mime.attachmentPartHead(r.sendAsNames.first()) + Base64Lines(attachment) +
           mime.end();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    quint16 port;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        port = probe.serverPort();
    }
    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start("/usr/bin/python3",
                 {QStringLiteral(SKINTOOL_SOURCE_DIR "/tests/crash/send/servers/smtp_server.py"), "--port",
                  QString::number(port), "--out", dir.path(), "--lifetime", "600"});
    QByteArray output;
    for (int i = 0; i < 100 && !output.contains("ready"); ++i) {
        server.waitForReadyRead(200);
        output += server.readAll();
    }
    if (!output.contains("ready")) {
        std::fprintf(stderr, "mail server did not start: %s\n", output.constData());
        return 1;
    }

    QByteArray attachment(5 * 1024 * 1024, '\0');
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(attachment.data()),
                                          attachment.size() / 4);
    QFile file(dir.filePath("screenshot.bin"));
    file.open(QIODevice::WriteOnly);
    file.write(attachment);
    file.close();

    SmtpMailRequest request;
    request.from = "tool@mirelune.example";
    request.to = "support@mirelune.example";
    request.subject = "bug report";
    request.body = "please find the bug report attached";
    request.server = "127.0.0.1";
    request.port = port;
    request.files = {file.fileName()};
    request.sendAsNames = {"screenshot.png"};

    const QString eml = dir.filePath("message.eml");
    QFile out(eml);
    out.open(QIODevice::WriteOnly);
    out.write(SameMessage(request, attachment));
    out.close();

    constexpr int Runs = 5;
    std::vector<double> ours, curl;
    for (int i = 0; i < Runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        SendProgress none;
        if (!MailViaSmtp(request, none)) {
            std::fprintf(stderr, "sending failed\n");
            return 1;
        }
        ours.push_back(timer.elapsed() / 1000.0);

        timer.restart();
        QProcess c;
        c.start("curl", {"--silent", "--show-error", "smtp://127.0.0.1:" + QString::number(port),
                         "--mail-from", request.from, "--mail-rcpt", request.to, "--upload-file", eml});
        if (!c.waitForFinished(120000) || c.exitCode() != 0) {
            std::fprintf(stderr, "curl failed: %s\n", c.readAllStandardError().constData());
            return 1;
        }
        curl.push_back(timer.elapsed() / 1000.0);
    }
    server.kill();
    server.waitForFinished(5000);

    const double a = median(ours), b = median(curl);
    std::printf("bench_smtp: 5 MB attachment, median of %d runs\n", Runs);
    std::printf(
        "  TSmtp mail procedure: %.3f s\n  curl --upload-file:   %.3f s\n  ratio: %.2f (target <= 1.2)\n", a,
        b, a / b);
    return 0;
}
