#include "app/DeliveryModule.h"

#include "platform/MessageBox.h"
#include "platform/ModuleHandle.h"
#include "platform/SharedLibrary.h"

#include <QFileInfo>
#include <mutex>

namespace app {

SendReportFunction OpenDeliveryModule(const QString& path, QString* error)
{
    platform::SharedLibrary module =
        platform::SharedLibrary::open(QFile::encodeName(path).constData(), error);
    SendReportFunction send = nullptr;
    if (!module.isLoaded())
        return nullptr;
    if (!module.bind(send, "skintool_send_report")) {
        *error = QStringLiteral("%1 has no send function").arg(path);
        return nullptr;
    }
    return send;
}

void RegisterDeliveryModule()
{
    crash::Services().send = [](const crash::SendRequest& request) {
        static std::once_flag opened;
        static SendReportFunction send = nullptr;
        static QString error;
        std::call_once(opened, [] {
            const QString folder = QFileInfo(platform::ModuleFileName(0)).absolutePath();
            send = OpenDeliveryModule(folder + QLatin1Char('/') + QLatin1String(kDeliveryModuleFile), &error);
        });
        if (send)
            return send(request);
        qWarning("The report cannot be sent: the delivery module could not be opened: %s", qPrintable(error));
        if (!request.silent && request.report)
            platform::ShowMessageBox(request.report->SendFailMsg(), QString(), platform::MsgIcon::Error);
        return false;
    };
}

} // namespace app
