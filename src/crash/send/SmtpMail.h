#pragma once
// Mailing the report with the built-in SMTP client: through a configured server (client mode) or
// straight to each recipient's mail exchanger found through DNS (direct delivery).

#include "crash/send/SendProgress.h"

#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QStringList>

namespace crash::send {

struct SmtpStepTexts
{
    QString mxLookup;
    QString connect;
    QString sendMail;
    QString sendAttachments;
    QString finalize;
};

struct SmtpMailRequest
{
    QString from;
    QString to;
    QString subject;
    QString body;
    QString server; // empty: direct delivery
    int port = 0;
    bool ssl = false;
    bool tls = false;
    QString account;
    QString password;
    QStringList sendAsNames;
    QStringList files;
    SmtpStepTexts stepTexts;
};

// What differs between the product and the tests; defaults are the product's.
struct SmtpOptions
{
    QStringList nameServers; // empty: the system's (platform::SystemNameServers)
    QStringList rootServers; // empty: HALVORN_DNS_ROOTS, else two Internet root servers
    quint16 directPort = 25; // the mail exchangers' port in direct delivery
    int timeoutMs = 7000;    // connecting and every wait for the server
    QList<QSslCertificate> extraTrustedCertificates; // besides the system's store, client mode
};

// True when at least one delivery succeeded. Closes the progress window at the end.
bool MailViaSmtp(const SmtpMailRequest& request, SendProgress& progress, const SmtpOptions& options = {});

} // namespace crash::send
