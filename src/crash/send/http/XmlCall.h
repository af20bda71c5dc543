#pragma once
// Writing the XML-RPC and SOAP calls of the tracker uploads. Values are escaped; binary data goes
// as Base64 written in pieces of 1536 bytes.

#include <QByteArray>
#include <QList>
#include <QString>
#include <variant>
#include <vector>

namespace crash::http {

struct XmlBinary
{
    QByteArray data;
};
struct XmlIntList
{
    QList<qint64> values;
};
struct XmlMember;
using XmlValue = std::variant<QString, qint64, XmlBinary, XmlIntList, std::vector<XmlMember>>;
struct XmlMember
{
    QString name;
    XmlValue value;
};

QByteArray EscapeXml(const QString& text);
QByteArray Base64InPieces(const QByteArray& data);

// <methodCall> with one struct parameter.
QByteArray XmlRpcCall(const QString& method, const std::vector<XmlMember>& members);
// A SOAP envelope calling `method` with the members as its parts (a struct member becomes a
// nested element).
QByteArray SoapCall(const QString& method, const std::vector<XmlMember>& members);

} // namespace crash::http
