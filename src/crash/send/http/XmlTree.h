#pragma once
// Answers of the bug trackers (XML, XML-RPC, SOAP) read into a small tree, so the uploads look
// values up by element name. Names compare without regard to case and namespace prefix. A
// malformed answer yields the part read before the error; nothing here throws.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>
#include <memory>
#include <vector>

namespace crash::http {

struct XmlNode
{
    QString name; // local name
    QString text; // the element's own character data (CDATA included), trimmed
    std::vector<XmlNode> children;

    // The first descendant (depth first, the node itself excluded) named `name`; null when none.
    const XmlNode* find(const QString& name) const;
    // Every descendant named `name`, in document order, not looking inside matches.
    std::vector<const XmlNode*> findAll(const QString& name) const;
    // The text of the first descendant named `name`; empty when none.
    QString value(const QString& name) const;
};

XmlNode ParseXml(const QByteArray& data);

// An XML-RPC <value> as a variant: struct -> QVariantMap, array -> QVariantList, scalars -> QString.
QVariant XmlRpcValue(const XmlNode& valueNode);
// The single return value of a methodResponse; invalid for a fault or a malformed answer.
QVariant XmlRpcResult(const XmlNode& document);

} // namespace crash::http
