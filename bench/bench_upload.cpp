// A form upload of a 10 MB report and a 2 MB screenshot to a local server, against curl's own
// "curl -F" sending the same form to the same server. Prints the median of five runs of each and
// their ratio.
//
//   build-bench/bin/bench_upload
#include "crash/send/http/HttpUpload.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

QString writeRandom(const QTemporaryDir& dir, const QString& name, int size)
{
    QByteArray bytes(size, '\0');
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    QFile f(dir.filePath(name));
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return f.fileName();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir, records;
    const QString report = writeRandom(dir, QStringLiteral("bugreport.txt"), 10 * 1024 * 1024);
    const QString shot = writeRandom(dir, QStringLiteral("screenShot.png"), 2 * 1024 * 1024);

    QProcess server;
    server.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(SKINTOOL_SOURCE_DIR "/tests/crash/send/http/http_test_server.py"), QStringLiteral("--record"),
                  records.path(), QStringLiteral("--lifetime"), QStringLiteral("300")});
    int port = 0;
    for (int i = 0; i < 100 && !port; ++i) {
        server.waitForReadyRead(100);
        const QByteArray line = server.readAllStandardOutput();
        if (line.startsWith("PORT "))
            port = line.mid(5).trimmed().toInt();
    }
    if (!port) {
        std::fprintf(stderr, "the local server did not start\n");
        return 1;
    }
    qputenv("http_proxy", "");

    std::vector<double> ours, theirs;
    for (int run = 0; run < 5; ++run) {
        crash::http::UploadRequest request;
        request.fields = {{QStringLiteral("MailSubject"), QStringLiteral("crash")}};
        request.files = {{report, QStringLiteral("bugreport.txt"), QStringLiteral("BugReport")},
                         {shot, QStringLiteral("screenShot.png"), QStringLiteral("ScreenShot")}};
        crash::http::HttpTarget target;
        target.server = QStringLiteral("127.0.0.1/upload.php");
        target.port = port;
        QElapsedTimer timer;
        timer.start();
        crash::http::TWinHttp http(target);
        if (!crash::http::CustomUpload(http, request)) {
            std::fprintf(stderr, "upload failed: %s\n", qPrintable(http.lastError()));
            return 1;
        }
        ours.push_back(timer.nsecsElapsed() / 1e6);

        QProcess curl;
        timer.restart();
        curl.start(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                                            QStringLiteral("-F"), QStringLiteral("MailSubject=crash"), QStringLiteral("-F"),
                                            QStringLiteral("BugReport=@") + report, QStringLiteral("-F"),
                                            QStringLiteral("ScreenShot=@") + shot,
                                            QStringLiteral("http://127.0.0.1:%1/upload.php").arg(port)});
        curl.waitForFinished(120000);
        theirs.push_back(timer.nsecsElapsed() / 1e6);
        for (const QString& f : QDir(records.path()).entryList(QDir::Files))
            QFile::remove(records.filePath(f));
    }
    server.kill();
    server.waitForFinished(5000);
    const double a = median(ours), b = median(theirs);
    std::printf("upload of 10 MB + 2 MB: %.1f ms; curl -F: %.1f ms; ratio %.3f (median of 5)\n", a, b, a / b);
    return 0;
}
