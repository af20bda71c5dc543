// DNS answer reading: any datagram must parse or be refused without reading outside it; what
// parses keeps names within DNS limits, and a query built from a parsed name reads back.
#include "FuzzCheck.h"

#include "crash/send/DnsMessage.h"

#include <cstdlib>

using fuzz::check;
using namespace crash::send;

namespace {

void checkRecords(const QList<DnsRecord>& records)
{
    for (const DnsRecord& r : records) {
        check(r.name.size() <= 255 && r.target.size() <= 255);
        if (r.type == dns::TypeA)
            check(r.address.size() == 4);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray datagram(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto reply = ParseDnsReply(datagram);
    if (!reply)
        return 0;
    check(reply->answers.size() + reply->authority.size() + reply->additional.size() <= 3 * 512);
    checkRecords(reply->answers);
    checkRecords(reply->authority);
    checkRecords(reply->additional);
    if (IsPlausibleHostName(reply->questionName)) {
        const QByteArray query = BuildDnsQuery(reply->id, reply->questionName, reply->questionType);
        if (!query.isEmpty()) {
            const auto again = ParseDnsReply(query);
            check(again && again->questionName == reply->questionName && again->id == reply->id);
        }
    }
    return 0;
}
