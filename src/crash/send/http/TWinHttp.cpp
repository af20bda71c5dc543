#include "crash/send/http/TWinHttp.h"

#include "crash/send/http/CurlLibrary.h"
#include "crash/send/http/HttpAnswerReader.h"

#include "platform/ProxyDiscovery.h"
#include "platform/Shell.h"

#include <QElapsedTimer>
#include <QUrl>
#include <cctype>
#include <cstring>
#include <mutex>

namespace crash::http {

namespace {

constexpr int kMaxRounds = 4;

std::mutex g_lastLock;
QString g_lastError;
QString g_lastResponse;
std::function<void(const QString&)> g_browserOpener;

void RememberError(QString& own, const QString& text)
{
    own = text;
    std::lock_guard lock(g_lastLock);
    g_lastError = text;
}

// What one transfer's callbacks share. The answer's time counts from the end of the request
// (the whole body sent, or the server's answer begun before it); a request sent again in the same
// transfer (an authentication round) starts it afresh.
struct Transfer
{
    RequestBody* body = nullptr;
    HttpAnswerReader* answer = nullptr;
    qint64 answerMs = 0;
    QElapsedTimer answerClock;
    curl_off_t lastSent = 0;
    int headsBeforeRequest = 0;
    bool answerTimedOut = false;
};

size_t ReadBody(char* buffer, size_t size, size_t count, void* user)
{
    auto* t = static_cast<Transfer*>(user);
    const std::int64_t n = t->body->read(buffer, std::int64_t(size * count));
    return n < 0 ? CURL_READFUNC_ABORT : size_t(n);
}

int SeekBody(void* user, curl_off_t offset, int origin)
{
    auto* t = static_cast<Transfer*>(user);
    if (origin != SEEK_SET || offset != 0)
        return CURL_SEEKFUNC_CANTSEEK;
    return t->body->rewind() ? CURL_SEEKFUNC_OK : CURL_SEEKFUNC_FAIL;
}

// Returning less than was handed over ends the transfer.
size_t WriteAnswer(char* data, size_t size, size_t count, void* user)
{
    const qsizetype n = qsizetype(size * count);
    return static_cast<Transfer*>(user)->answer->addBody(QByteArrayView(data, n)) ? size_t(n) : 0;
}

size_t ReadHeader(char* data, size_t size, size_t count, void* user)
{
    const qsizetype n = qsizetype(size * count);
    return static_cast<Transfer*>(user)->answer->addHeadLine(QByteArrayView(data, n)) ? size_t(n) : 0;
}

int WatchAnswerTime(void* user, curl_off_t, curl_off_t, curl_off_t toSend, curl_off_t sent)
{
    auto* t = static_cast<Transfer*>(user);
    if (sent < t->lastSent) { // the request goes again
        t->answerClock.invalidate();
        t->headsBeforeRequest = t->answer->finalHeads();
    }
    t->lastSent = sent;
    if (!t->answerClock.isValid() && (sent >= toSend || t->answer->finalHeads() > t->headsBeforeRequest))
        t->answerClock.start();
    if (t->answerClock.isValid() && t->answerClock.hasExpired(t->answerMs)) {
        t->answerTimedOut = true;
        return 1;
    }
    return 0;
}

// A line break inside a header's value (the reporter's address, say) would start a header of its own.
QByteArray OneLine(QByteArray header)
{
    return header.replace('\r', ' ').replace('\n', ' ');
}

// Only as a web address, never through the shell's "open": a server on the path could otherwise
// name a program of the prefix or a local file.
void OpenInBrowser(const QString& location)
{
    if (platform::WebAddressToOpen(location).isEmpty())
        return;
    if (g_browserOpener)
        g_browserOpener(location);
    else
        platform::OpenWebAddress(location);
}

} // namespace

QString DecodeEntities(const QString& text)
{
    static const std::pair<QLatin1String, QChar> entities[] = {{QLatin1String("&quot;"), QLatin1Char('"')},
                                                               {QLatin1String("&amp;"), QLatin1Char('&')},
                                                               {QLatin1String("&apos;"), QLatin1Char('\'')},
                                                               {QLatin1String("&lt;"), QLatin1Char('<')},
                                                               {QLatin1String("&gt;"), QLatin1Char('>')}};
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        bool replaced = false;
        if (text[i] == QLatin1Char('&')) {
            for (const auto& [name, c] : entities) {
                if (QStringView(text).mid(i).startsWith(name)) {
                    out += c;
                    i += name.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced)
            out += text[i++];
    }
    return out;
}

long ChooseAuthScheme(const QList<QByteArray>& challenges)
{
    static const std::pair<const char*, long> order[] = {{"negotiate", long(CURLAUTH_NEGOTIATE)},
                                                         {"ntlm", long(CURLAUTH_NTLM)},
                                                         {"digest", long(CURLAUTH_DIGEST)},
                                                         {"basic", long(CURLAUTH_BASIC)}};
    for (const auto& [name, bit] : order)
        for (const QByteArray& challenge : challenges) {
            const QByteArray scheme = challenge.trimmed().split(' ').value(0).toLower();
            if (scheme == name)
                return bit;
        }
    return 0;
}

QString LastHttpError()
{
    std::lock_guard lock(g_lastLock);
    return g_lastError;
}

QString LastHttpResponse()
{
    std::lock_guard lock(g_lastLock);
    return g_lastResponse;
}

void TWinHttp::setBrowserOpener(std::function<void(const QString&)> opener)
{
    g_browserOpener = std::move(opener);
}

TWinHttp::TWinHttp(const HttpTarget& target) : m_target(target)
{
    QString rest = target.server.trimmed();
    const int scheme = rest.indexOf(QLatin1String("://"));
    if (scheme >= 0)
        rest = rest.mid(scheme + 3);
    const int slash = rest.indexOf(QLatin1Char('/'));
    m_host = slash < 0 ? rest : rest.left(slash);
    m_path = slash < 0 ? QString() : rest.mid(slash);
    while (m_path.endsWith(QLatin1Char('/')))
        m_path.chop(1);
    m_api = LoadCurl(&m_loadError);
    if (m_api)
        m_curl = m_api->easy_init();
}

TWinHttp::~TWinHttp()
{
    if (m_curl)
        m_api->easy_cleanup(m_curl);
}

QByteArray TWinHttp::url(const QString& path) const
{
    QString host = m_host;
    int port = m_target.port;
    // A port written into HttpServer counts when HttpPort leaves it open.
    const int colon = host.lastIndexOf(QLatin1Char(':'));
    if (colon > 0 && !host.endsWith(QLatin1Char(']'))) {
        if (port == 0)
            port = host.mid(colon + 1).toInt();
        host = host.left(colon);
    }
    QString text = QLatin1String(m_target.secure ? "https://" : "http://") + host;
    if (port > 0)
        text += QLatin1Char(':') + QString::number(port);
    QString fullPath = m_path + path;
    if (!fullPath.startsWith(QLatin1Char('/')))
        fullPath.prepend(QLatin1Char('/'));
    // Callers escape query values themselves, so "%" stays as it is; blanks and the like do not.
    QByteArray escaped;
    for (const char c : fullPath.toUtf8()) {
        if (std::isalnum(static_cast<unsigned char>(c)) || (c && std::strchr("-._~/?&=%:@!$'()*+,;", c)))
            escaped += c;
        else
            escaped +=
                '%' + QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0').toUpper();
    }
    return text.toUtf8() + escaped;
}

void TWinHttp::detectProxy(const QByteArray& address)
{
    m_proxyDetected = true;
    for (const QString& proxy : platform::DiscoverProxies(QString::fromUtf8(address))) {
        if (proxy.startsWith(QLatin1String("direct://")))
            return;
        const QUrl url(proxy);
        if (!url.isValid() || url.host().isEmpty())
            continue;
        m_proxyCredentials = {url.userName(QUrl::FullyDecoded), url.password(QUrl::FullyDecoded)};
        QUrl bare = url;
        bare.setUserInfo({});
        m_proxy = bare.toString();
        return;
    }
}

void TWinHttp::applyProxy()
{
    if (m_proxy.isEmpty()) {
        m_api->easy_setopt(m_curl, CURLOPT_PROXY, ""); // no environment proxy behind our back
        return;
    }
    m_api->easy_setopt(m_curl, CURLOPT_PROXY, m_proxy.toUtf8().constData());
    if (m_proxyScheme) {
        m_api->easy_setopt(m_curl, CURLOPT_PROXYAUTH, m_proxyScheme);
        m_api->easy_setopt(m_curl, CURLOPT_PROXYUSERNAME, m_proxyCredentials.user.toUtf8().constData());
        m_api->easy_setopt(m_curl, CURLOPT_PROXYPASSWORD, m_proxyCredentials.password.toUtf8().constData());
    }
}

HttpOutcome TWinHttp::send(const QByteArray& verb, const QString& path, const QList<QByteArray>& headers,
                           RequestBody* body)
{
    if (!m_curl) {
        RememberError(m_error,
                      m_api ? QStringLiteral("the HTTP library could not be initialised")
                            : QStringLiteral("the HTTP library could not be loaded: %1").arg(m_loadError));
        return HttpOutcome::Failure;
    }
    const QByteArray address = url(path);
    CURLcode code = CURLE_OK;
    for (int attempt = 0; attempt < 2; ++attempt) {
        m_api->easy_reset(m_curl);
        m_answer = HttpAnswerReader(m_target.answerBytesLimit);
        m_status = 0;
        if (body && !body->rewind()) {
            RememberError(m_error, QStringLiteral("a file of the upload could not be read"));
            return HttpOutcome::Failure;
        }

        Transfer transfer;
        transfer.body = body;
        transfer.answer = &m_answer;
        transfer.answerMs = qint64(m_target.answerSecondsLimit) * 1000;
        m_api->easy_setopt(m_curl, CURLOPT_URL, address.constData());
        m_api->easy_setopt(m_curl, CURLOPT_USERAGENT, "Halvorn/4.0");
        m_api->easy_setopt(m_curl, CURLOPT_FOLLOWLOCATION, 0L);
        m_api->easy_setopt(m_curl, CURLOPT_NOSIGNAL, 1L);
        m_api->easy_setopt(m_curl, CURLOPT_CONNECTTIMEOUT, 30L);
        m_api->easy_setopt(m_curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
        m_api->easy_setopt(m_curl, CURLOPT_LOW_SPEED_TIME, 60L);
        m_api->easy_setopt(m_curl, CURLOPT_SSL_VERIFYPEER, 1L);
        m_api->easy_setopt(m_curl, CURLOPT_SSL_VERIFYHOST, 2L);
        m_api->easy_setopt(m_curl, CURLOPT_WRITEFUNCTION, WriteAnswer);
        m_api->easy_setopt(m_curl, CURLOPT_WRITEDATA, &transfer);
        m_api->easy_setopt(m_curl, CURLOPT_HEADERFUNCTION, ReadHeader);
        m_api->easy_setopt(m_curl, CURLOPT_HEADERDATA, &transfer);
        m_api->easy_setopt(m_curl, CURLOPT_NOPROGRESS, 0L);
        m_api->easy_setopt(m_curl, CURLOPT_XFERINFOFUNCTION, WatchAnswerTime);
        m_api->easy_setopt(m_curl, CURLOPT_XFERINFODATA, &transfer);
        // OpenSSL's own variable for "trust these certificates instead", which the library
        // build ignores in favour of its compiled-in bundle.
        const QByteArray bundle = qgetenv("SSL_CERT_FILE");
        if (!bundle.isEmpty())
            m_api->easy_setopt(m_curl, CURLOPT_CAINFO, bundle.constData());
        if (m_serverScheme) {
            m_api->easy_setopt(m_curl, CURLOPT_HTTPAUTH, m_serverScheme);
            m_api->easy_setopt(m_curl, CURLOPT_USERNAME, m_target.web.user.toUtf8().constData());
            m_api->easy_setopt(m_curl, CURLOPT_PASSWORD, m_target.web.password.toUtf8().constData());
        }
        applyProxy();

        // A first try that will be challenged for a password asks before it sends its body: a proxy
        // or server that answers the challenge and closes at once would otherwise reset the
        // connection under the body, and the challenge would be lost with it. Otherwise no waiting
        // for a "continue" that some servers never send.
        const bool challengeExpected = (!m_target.web.empty() && !m_serverScheme) ||
                                       (!m_proxy.isEmpty() && !m_proxyCredentials.empty() && !m_proxyScheme);
        curl_slist* list = nullptr;
        list = m_api->slist_append(
            list, challengeExpected && body && body->size() > 0 ? "Expect: 100-continue" : "Expect:");
        for (const QByteArray& header : headers)
            list = m_api->slist_append(list, OneLine(header).constData());
        m_api->easy_setopt(m_curl, CURLOPT_HTTPHEADER, list);
        if (verb == "GET") {
            m_api->easy_setopt(m_curl, CURLOPT_HTTPGET, 1L);
        } else {
            m_api->easy_setopt(m_curl, CURLOPT_POST, 1L);
            m_api->easy_setopt(m_curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body ? body->size() : 0));
            m_api->easy_setopt(m_curl, CURLOPT_READFUNCTION, ReadBody);
            m_api->easy_setopt(m_curl, CURLOPT_READDATA, &transfer);
            m_api->easy_setopt(m_curl, CURLOPT_SEEKFUNCTION, SeekBody);
            m_api->easy_setopt(m_curl, CURLOPT_SEEKDATA, &transfer);
            if (verb != "POST")
                m_api->easy_setopt(m_curl, CURLOPT_CUSTOMREQUEST, verb.constData());
        }
        code = m_api->easy_perform(m_curl);
        m_api->slist_free_all(list);
        long status = 0;
        m_api->easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &status);
        m_status = int(status);

        // Past a limit no other way is tried: the same server would answer the same.
        if (m_answer.tooLarge()) {
            RememberError(m_error, QStringLiteral("the server's answer is larger than %1 KiB; it was cut off")
                                       .arg(m_answer.limit() / 1024));
            return HttpOutcome::Failure;
        }
        if (transfer.answerTimedOut) {
            RememberError(m_error, QStringLiteral("the server did not finish its answer within %1 seconds")
                                       .arg(m_target.answerSecondsLimit));
            return HttpOutcome::Failure;
        }
        if (code != CURLE_OK && m_status == 0) {
            RememberError(m_error, QString::fromUtf8(m_api->easy_strerror(code)));
            const bool secureChannel = code == CURLE_SSL_CONNECT_ERROR ||
                                       code == CURLE_PEER_FAILED_VERIFICATION ||
                                       code == CURLE_SSL_CACERT_BADFILE || code == CURLE_SSL_CERTPROBLEM;
            if (attempt == 0 && !secureChannel && !m_proxyDetected && m_proxy.isEmpty()) {
                detectProxy(address);
                if (!m_proxy.isEmpty())
                    continue;
            }
            return HttpOutcome::Failure;
        }
        break;
    }
    // A cut-off answer is no delivery, whatever its status said; the password rounds go on, as
    // a server may close as soon as it has refused.
    if (code != CURLE_OK && m_status != 401 && m_status != 407) {
        RememberError(m_error, QStringLiteral("the server's answer broke off: %1")
                                   .arg(QString::fromUtf8(m_api->easy_strerror(code))));
        return HttpOutcome::Failure;
    }

    {
        std::lock_guard lock(g_lastLock);
        g_lastResponse = responseText();
    }
    switch (m_status) {
    case 200:
        return HttpOutcome::Success;
    case 301:
    case 302:
    case 303:
        if (!m_target.ignoreRedirects && !m_answer.location().isEmpty())
            OpenInBrowser(m_answer.location());
        return HttpOutcome::Success;
    case 401:
        if (!m_target.web.empty() && !m_serverAuthTried) {
            m_serverAuthTried = true;
            m_serverScheme = ChooseAuthScheme(m_answer.serverChallenges());
            if (m_serverScheme)
                return HttpOutcome::Retry;
        }
        break;
    case 407:
        if (!m_proxyCredentials.empty() && !m_proxyAuthTried) {
            m_proxyAuthTried = true;
            m_proxyScheme = ChooseAuthScheme(m_answer.proxyChallenges());
            if (m_proxyScheme)
                return HttpOutcome::Retry;
        }
        break;
    default:
        break;
    }
    RememberError(m_error, QStringLiteral("the server answered %1").arg(m_status));
    return HttpOutcome::Failure;
}

bool TWinHttp::request(const QByteArray& verb, const QString& path, const QList<QByteArray>& headers,
                       RequestBody* body, const std::function<void()>& beforeRound)
{
    for (int round = 0; round < kMaxRounds; ++round) {
        if (beforeRound)
            beforeRound();
        switch (send(verb, path, headers, body)) {
        case HttpOutcome::Success:
            return true;
        case HttpOutcome::Failure:
            return false;
        case HttpOutcome::Retry:
            break;
        }
    }
    return false;
}

QString TWinHttp::responseText() const
{
    return DecodeEntities(QString::fromUtf8(m_answer.body()));
}

} // namespace crash::http
