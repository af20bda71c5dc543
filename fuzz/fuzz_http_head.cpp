// Any bytes as a server's answer, handed over as the transfer does: head lines up to the first empty
// line, then the body in pieces whose sizes the input chooses, against a limit the input chooses.
// Nothing may crash; what is kept never exceeds the limit, a refusal is final, the body is exactly
// the accepted pieces and every kept challenge is text of the head.
#include "FuzzCheck.h"

#include "crash/send/http/HttpAnswerReader.h"
#include "crash/send/http/TWinHttp.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using crash::http::HttpAnswerReader;
using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const qint64 limit = 1 + qint64(data[0]) * 16;
    const QByteArray input(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    HttpAnswerReader reader(limit);
    qint64 accepted = 0;
    bool refused = false;
    const auto offered = [&](bool taken, qsizetype bytes) {
        check(!(refused && taken));
        refused = refused || !taken;
        if (taken)
            accepted += bytes;
        check(accepted <= limit);
        check(reader.tooLarge() == refused);
    };

    qsizetype at = 0;
    QByteArray head;
    while (at < input.size()) {
        const qsizetype end = input.indexOf('\n', at);
        const QByteArray line = input.mid(at, end < 0 ? -1 : end + 1 - at);
        at += line.size();
        offered(reader.addHeadLine(line), line.size());
        head += line;
        if (line.trimmed().isEmpty())
            break;
    }
    QByteArray body;
    while (at < input.size()) {
        const qsizetype piece = 1 + quint8(input[at]) % 61;
        const QByteArray chunk = input.mid(at, piece);
        at += chunk.size();
        const bool taken = reader.addBody(chunk);
        offered(taken, chunk.size());
        if (taken)
            body += chunk;
    }
    check(reader.body() == body);
    for (const QByteArray& challenge : reader.serverChallenges() + reader.proxyChallenges())
        check(head.contains(challenge));
    (void)crash::http::ChooseAuthScheme(reader.serverChallenges());
    return 0;
}
