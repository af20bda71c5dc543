#include "crash/core/report/ReportServices.h"

namespace crash {

ReportServices& Services()
{
    static ReportServices services;
    return services;
}

} // namespace crash
