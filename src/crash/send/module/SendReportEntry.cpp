// The report delivery as a module of its own, which the program opens at its first send: the
// network framework it needs, with Kerberos and proxy discovery behind it, then loads only when a
// report goes out instead of with every start. The module holds the delivery's own code only;
// everything else it calls (the report, the settings, the platform layer) is the program's, which
// exports it, so both share one copy of every global.
#include "crash/send/SendProcedure.h"

extern "C" __attribute__((visibility("default"))) bool skintool_send_report(const crash::SendRequest& request)
{
    return crash::send::SendReport(request);
}
