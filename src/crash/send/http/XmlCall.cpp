#include "crash/send/http/XmlCall.h"

namespace crash::http {

namespace {

constexpr qsizetype kBase64Piece = 1536;

QByteArray RpcValue(const XmlValue& value)
{
    QByteArray out = "<value>";
    if (const auto* text = std::get_if<QString>(&value)) {
        out += "<string>" + EscapeXml(*text) + "</string>";
    } else if (const auto* number = std::get_if<qint64>(&value)) {
        out += "<int>" + QByteArray::number(*number) + "</int>";
    } else if (const auto* binary = std::get_if<XmlBinary>(&value)) {
        out += "<base64>" + Base64InPieces(binary->data) + "</base64>";
    } else if (const auto* list = std::get_if<XmlIntList>(&value)) {
        out += "<array><data>";
        for (qint64 v : list->values)
            out += "<value><int>" + QByteArray::number(v) + "</int></value>";
        out += "</data></array>";
    } else if (const auto* members = std::get_if<std::vector<XmlMember>>(&value)) {
        out += "<struct>";
        for (const XmlMember& member : *members)
            out += "<member><name>" + EscapeXml(member.name) + "</name>" + RpcValue(member.value) + "</member>";
        out += "</struct>";
    }
    return out + "</value>";
}

QByteArray SoapParts(const std::vector<XmlMember>& members)
{
    QByteArray out;
    for (const XmlMember& member : members) {
        const QByteArray name = EscapeXml(member.name);
        out += "<" + name + ">";
        if (const auto* text = std::get_if<QString>(&member.value))
            out += EscapeXml(*text);
        else if (const auto* number = std::get_if<qint64>(&member.value))
            out += QByteArray::number(*number);
        else if (const auto* binary = std::get_if<XmlBinary>(&member.value))
            out += Base64InPieces(binary->data);
        else if (const auto* nested = std::get_if<std::vector<XmlMember>>(&member.value))
            out += SoapParts(*nested);
        else if (const auto* list = std::get_if<XmlIntList>(&member.value))
            for (qint64 v : list->values)
                out += "<item>" + QByteArray::number(v) + "</item>";
        out += "</" + name + ">";
    }
    return out;
}

} // namespace

QByteArray EscapeXml(const QString& text)
{
    QByteArray out;
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        case '\r': out += "&#13;"; break; // XML readers turn a raw CR LF into LF
        default: out += c;
        }
    }
    return out;
}

QByteArray Base64InPieces(const QByteArray& data)
{
    QByteArray out;
    out.reserve((data.size() + 2) / 3 * 4);
    for (qsizetype at = 0; at < data.size(); at += kBase64Piece)
        out += data.mid(at, kBase64Piece).toBase64(); // a piece is a multiple of 3 bytes: no padding inside
    return out;
}

QByteArray XmlRpcCall(const QString& method, const std::vector<XmlMember>& members)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><methodCall><methodName>" + EscapeXml(method) +
           "</methodName><params><param>" + RpcValue(members) + "</param></params></methodCall>";
}

QByteArray SoapCall(const QString& method, const std::vector<XmlMember>& members)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
           "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "xmlns:ns1=\"http://futureware.biz/mantisconnect\"><SOAP-ENV:Body><ns1:" +
           EscapeXml(method) + ">" + SoapParts(members) + "</ns1:" + EscapeXml(method) +
           "></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

} // namespace crash::http
