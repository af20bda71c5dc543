#include "crash/core/report/ReportServices.h"

namespace crash {

ReportServices& Services()
{
    static ReportServices& services = *new ReportServices; // outlives the static teardown
    return services;
}

} // namespace crash
