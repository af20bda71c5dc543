// The form body as an independent reader sees it (Python's mail parser): content that holds a
// boundary adds no field, and a file name cannot end its quotes or its header line.

#include "LocalServer.h"
#include "support/TempDir.h"

#include "crash/send/http/HttpUpload.h"
#include "crash/send/http/MultipartForm.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

using namespace crash::http;

namespace {

const QString kFormReader = QStringLiteral(HTTP_TEST_DIR "/read_form.py");
const QString kServer = QStringLiteral(HTTP_TEST_DIR "/http_test_server.py");

// A field that holds the boundary all forms had before, with a part of its own behind it.
const QString kForgedField = QStringLiteral(
    "x\r\n--Trevasil_multipart_boundary\r\nContent-Disposition: form-data; name=\"injected\"\r\n\r\n"
    "evil\r\n--Trevasil_multipart_boundary--\r\n");

QByteArray WholeBody(MultipartForm& form)
{
    EXPECT_TRUE(form.rewind());
    QByteArray body;
    char buffer[1000];
    for (int guard = 0; guard < 100000; ++guard) {
        const std::int64_t n = form.read(buffer, sizeof buffer);
        if (n <= 0)
            break;
        body.append(buffer, n);
    }
    return body;
}

// The parts as the reader finds them.
QJsonArray ReadForm(const QByteArray& contentType, const QByteArray& body, const testsupport::TempDir& dir)
{
    QProcess reader;
    reader.start(QStringLiteral("/usr/bin/python3"),
                 {kFormReader, QString::fromLatin1(contentType), dir.write(QStringLiteral("body"), body)});
    EXPECT_TRUE(reader.waitForFinished(30000));
    const QJsonObject read = QJsonDocument::fromJson(reader.readAllStandardOutput()).object();
    EXPECT_TRUE(read["defects"].toArray().isEmpty()) << reader.readAllStandardError().toStdString();
    return read["parts"].toArray();
}

QStringList FieldNames(const QJsonArray& parts)
{
    QStringList names;
    for (const QJsonValue& part : parts)
        names << part.toObject()["name"].toString();
    return names;
}

QByteArray Content(const QJsonValue& part)
{
    return QByteArray::fromBase64(part["content"].toString().toLatin1());
}

TEST(MultipartFormBody, ContentHoldingABoundaryAddsNoField)
{
    testsupport::TempDir dir;
    MultipartForm form;
    const QByteArray first = form.boundary();
    form.addField(QStringLiteral("comment"), kForgedField);
    // Content that happens to hold this form's own boundary makes the form draw another.
    const QString holdsOwn =
        QStringLiteral("before\r\n--") + QString::fromLatin1(first) + QStringLiteral("\r\nafter");
    form.addField(QStringLiteral("own"), holdsOwn);
    ASSERT_TRUE(form.addFile({dir.write(QStringLiteral("report.txt"), "the report"),
                              QStringLiteral("bugreport.txt"), QStringLiteral("BugReport")}));
    EXPECT_NE(form.boundary(), first);
    EXPECT_NE(MultipartForm().boundary(), form.boundary()) << "each form draws its own";

    const QByteArray body = WholeBody(form);
    EXPECT_EQ(std::int64_t(body.size()), form.size());
    const QJsonArray parts = ReadForm(form.contentType(), body, dir);
    EXPECT_EQ(FieldNames(parts), (QStringList{"comment", "own", "BugReport"}));
    ASSERT_EQ(parts.size(), 3);
    EXPECT_EQ(Content(parts[0]), kForgedField.toLatin1());
    EXPECT_EQ(Content(parts[1]), holdsOwn.toLatin1());
    EXPECT_EQ(Content(parts[2]), "the report");
}

TEST(MultipartFormBody, NamesCannotEndTheirQuotesOrHeaderLines)
{
    testsupport::TempDir dir;
    MultipartForm form;
    const QString sendAs = QStringLiteral("a\"b\r\nContent-Type: text/html\r\n\r\n<script>.txt");
    ASSERT_TRUE(form.addFile({dir.write(QStringLiteral("shot.png"), QByteArray("\x89PNG\r\n\0\xff", 8)),
                              sendAs, QStringLiteral("Screen\"Shot")}));
    const QByteArray body = WholeBody(form);
    EXPECT_EQ(std::int64_t(body.size()), form.size());
    EXPECT_TRUE(body.contains("filename=\"a%22b%0D%0AContent-Type: text/html%0D%0A%0D%0A<script>.txt\"\r\n"));
    const QJsonArray parts = ReadForm(form.contentType(), body, dir);
    ASSERT_EQ(parts.size(), 1);
    EXPECT_EQ(parts[0]["name"].toString(), QStringLiteral("Screen%22Shot"));
    EXPECT_EQ(parts[0]["filename"].toString(),
              QStringLiteral("a%22b%0D%0AContent-Type: text/html%0D%0A%0D%0A<script>.txt"));
    EXPECT_EQ(parts[0]["headers"].toArray(), (QJsonArray{"Content-Disposition", "Content-Type"}));
    EXPECT_EQ(Content(parts[0]), QByteArray("\x89PNG\r\n\0\xff", 8));
}

TEST(MultipartFormBody, ForgedFieldReachesTheServerAsOneField)
{
    testsupport::TempDir records;
    testsupport::LocalServer server(QStringLiteral("/usr/bin/python3"),
                                    {kServer, QStringLiteral("--record"), records.path()});
    ASSERT_TRUE(server.ready()) << server.errors().toStdString();
    HttpTarget target;
    target.server = QStringLiteral("127.0.0.1/upload.php");
    target.port = server.port();
    UploadRequest request;
    request.fields = {{QStringLiteral("MailBody"), kForgedField},
                      {QStringLiteral("MailAddr"), QStringLiteral("a@b")}};
    TWinHttp http(target);
    ASSERT_TRUE(CustomUpload(http, request)) << http.lastError().toStdString();

    const QStringList recorded = QDir(records.path()).entryList({QStringLiteral("*.req")}, QDir::Files);
    ASSERT_EQ(recorded.size(), 1);
    const QByteArray all = testsupport::ReadAll(records.file(recorded.first()));
    const qsizetype split = all.indexOf("\r\n\r\n");
    QByteArray contentType;
    for (const QByteArray& line : all.left(split).split('\n'))
        if (line.toLower().startsWith("content-type:"))
            contentType = line.mid(13).trimmed();
    const QJsonArray parts = ReadForm(contentType, all.mid(split + 4), records);
    EXPECT_EQ(FieldNames(parts), (QStringList{"MailBody", "MailAddr"}));
}

} // namespace
