// Any bytes as a server's answer: the tracker answer reader, the XML-RPC value reader, the entity
// decoding and the choice of authentication scheme must neither crash nor hang, and decoding an
// answer without "&" must give it back unchanged.
#include "crash/send/http/TWinHttp.h"
#include "crash/send/http/XmlTree.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const crash::http::XmlNode tree = crash::http::ParseXml(bytes);
    (void)crash::http::XmlRpcResult(tree);
    for (const crash::http::XmlNode* item : tree.findAll(QStringLiteral("item")))
        (void)item->value(QStringLiteral("name"));

    const QString text = QString::fromUtf8(bytes);
    const QString decoded = crash::http::DecodeEntities(text);
    if (!text.contains(QLatin1Char('&')) && decoded != text)
        std::abort();
    if (decoded.size() > text.size())
        std::abort();
    (void)crash::http::ChooseAuthScheme(bytes.split('\n'));
    return 0;
}
