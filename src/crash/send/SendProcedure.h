#pragma once
// The send procedure: everything between "send bug report" and a delivered report.
//
// It builds the mail fields from the settings, prepares the attachments (the report as a file,
// the screenshot as PNG, the configured extra files, zip archives), shows a progress window and
// then tries the transports in a fixed order until one delivers: HTTP upload (registered by the
// HTTP code), SMTP (client mode or direct delivery), the desktop's mail composer and at last a
// "mailto:" link. When nothing delivers and the call is not silent, SendFailMsg is shown.
//
// With the background flag the whole procedure runs on a thread of its own that holds its own
// references to the report, the text and the picture; the caller gets true at once.

#include "crash/core/report/ExceptionReport.h"
#include "crash/core/report/ReportServices.h"
#include "crash/send/BackgroundSends.h"
#include "crash/send/HttpUploader.h"
#include "crash/send/MailClientTransport.h"
#include "crash/send/ReportFileAttachment.h"
#include "crash/send/SmtpMail.h"

#include <QImage>
#include <QString>
#include <functional>
#include <memory>

namespace crash::send {

// The transports in the order they are tried; an empty one counts as "not delivered".
struct DeliveryTransports
{
    HttpUploader http;
    std::function<bool(const SmtpMailRequest&, SendProgress&)> smtp;
    std::function<int(const MailClientRequest&)> mailClient;
    std::function<bool(const QString& to, const QString& subject, const QString& report)> mailto;
};

// The product's transports (HTTP as registered with SetHttpUploader).
DeliveryTransports DefaultTransports();

// A request of the handling flow (its report holds the settings and is where "sent" is marked),
// with where the send runs.
struct SendJob : SendRequest
{
    bool onBackgroundThread = false;
    bool processBlocked = false;
    ReportFileContent reportFile; // what the report attachment holds, read as the send starts
};

// True when the report was delivered or handed to the desktop's mail program, or when a
// background thread was started for it. Only a transport's delivery marks the report as sent.
bool SendBugReport(const SendJob& job, const DeliveryTransports& transports = DefaultTransports());

// Registers the send procedure as the crash reporter's delivery service (Services().send).
// The request's inBackground asks for a background send (the caller passes SendInBackgr).
void RegisterReportDelivery();
// What the registered delivery does with a request of the handling flow.
bool SendReport(const SendRequest& request);

} // namespace crash::send
