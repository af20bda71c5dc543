#pragma once
// The HTTP client of the uploads: one libcurl easy handle per object, used for the requests of
// one upload.
//
// Requests follow a fixed dance. The first try goes out without credentials; a 401 or 407 answer
// makes the client pick the strongest scheme the server or proxy offers (Negotiate, NTLM, Digest,
// Basic), set the credentials it has for that side and ask the caller to repeat the request.
// When the first try fails before any answer (not a certificate problem), the proxy named by the
// desktop or environment is looked up once and the request goes again through it. Redirects are
// not followed: a 30x answer counts as delivered and its Location is shown in the browser when it
// is an absolute http or https address (never started as a program or opened as a local path).
// Certificates are always checked against the system's store.

#include "crash/send/http/HttpAnswerReader.h"
#include "crash/send/http/RequestBody.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

typedef void CURL;

namespace crash::http {

struct CurlLibrary;

struct HttpCredentials
{
    QString user;
    QString password;
    bool empty() const { return user.isEmpty() && password.isEmpty(); }
};

struct HttpTarget
{
    QString server; // HttpServer: an optional scheme, the host, an optional path
    int port = 0;   // 0: the scheme's default
    bool secure = false;
    HttpCredentials web;
    HttpCredentials tracker;
    bool ignoreRedirects = false;
    // Bounds on each answer, past which the request fails: its size (head and body) and the time
    // from the end of the request to the end of the answer.
    qint64 answerBytesLimit = HttpAnswerReader::DefaultLimit;
    int answerSecondsLimit = 120;
};

enum class HttpOutcome
{
    Success, // 200, or a redirect
    Retry,   // credentials were set after 401/407: send the same request again
    Failure
};

class TWinHttp
{
public:
    explicit TWinHttp(const HttpTarget& target);
    ~TWinHttp();
    TWinHttp(const TWinHttp&) = delete;
    TWinHttp& operator=(const TWinHttp&) = delete;

    QString serverName() const { return m_host; }
    QString path() const { return m_path; } // without a trailing "/"; may be empty
    const HttpCredentials& trackerCredentials() const { return m_target.tracker; }

    // One round of a request: `path` is appended to the server's path. Repeat while Retry.
    HttpOutcome send(const QByteArray& verb, const QString& path, const QList<QByteArray>& headers,
                     RequestBody* body);
    // send() repeated while it asks for a retry (at most a few rounds), rewinding the body;
    // `beforeRound` runs before each round (the form upload resets its progress there).
    bool request(const QByteArray& verb, const QString& path, const QList<QByteArray>& headers,
                 RequestBody* body, const std::function<void()>& beforeRound = {});

    int status() const { return m_status; }
    // The answer's text, UTF-8 decoded, with the five XML entities replaced.
    QString responseText() const;
    QByteArray responseBytes() const { return m_answer.body(); }
    QString location() const { return m_answer.location(); }
    QString lastError() const { return m_error; }

    // Called for every redirect the client would show in the browser (tests record it).
    static void setBrowserOpener(std::function<void(const QString&)> opener);

private:
    QByteArray url(const QString& path) const;
    void applyProxy();
    void detectProxy(const QByteArray& url);

    HttpTarget m_target;
    QString m_host;
    QString m_path;
    const CurlLibrary* m_api = nullptr; // null when libcurl could not be loaded
    QString m_loadError;
    CURL* m_curl = nullptr;

    QString m_proxy;
    HttpCredentials m_proxyCredentials;
    bool m_proxyDetected = false;
    long m_serverScheme = 0; // curl's CURLAUTH_* bit once chosen
    long m_proxyScheme = 0;
    bool m_serverAuthTried = false;
    bool m_proxyAuthTried = false;

    int m_status = 0;
    HttpAnswerReader m_answer;
    QString m_error;
};

// "&quot;", "&amp;", "&apos;", "&lt;" and "&gt;" replaced by their characters, in one pass.
QString DecodeEntities(const QString& text);

// The first of Negotiate, NTLM, Digest and Basic that the challenges offer, as curl's bit; 0 none.
long ChooseAuthScheme(const QList<QByteArray>& challenges);

// The process-wide copy of the last failure's text and of the last answer, for callers that only
// learn "false".
QString LastHttpError();
QString LastHttpResponse();

} // namespace crash::http
