#pragma once
// The crash reporter's delivery lives in a module beside the executable (skintool_delivery.so),
// opened at the first send, so that the network libraries load only when a report goes out. A
// module that cannot be opened is a delivery that failed: the user is told as when no transport
// delivers, and the reason is logged.

#include "crash/core/report/ReportServices.h"

#include <QString>

namespace app {

inline constexpr char kDeliveryModuleFile[] = "skintool_delivery.so";

using SendReportFunction = bool (*)(const crash::SendRequest& request);

// Opens the module at `path`: its send function, or null with `error` set.
SendReportFunction OpenDeliveryModule(const QString& path, QString* error);

// Registers the reporter's send service: the module beside the executable, opened by the first
// send.
void RegisterDeliveryModule();

} // namespace app
