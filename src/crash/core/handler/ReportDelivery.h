#pragma once
// Every send of the reporter (automatic or from the dialog) goes through here to the registered
// delivery. A program that registered none cannot send, and that must not pass unnoticed: the
// internal error is written to standard error (and shown, when the send is not silent), and the
// report is saved so that it is not lost.

#include "crash/core/report/ReportServices.h"

#include <QString>

namespace crash {

inline constexpr char NoDeliveryError[] = "internal error (no report delivery registered)";

// True when the report was delivered (or a background delivery was started).
bool DeliverReport(const SendRequest& request);

} // namespace crash
