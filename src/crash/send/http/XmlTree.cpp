#include "crash/send/http/XmlTree.h"

#include <QXmlStreamReader>

namespace crash::http {

namespace {

constexpr int kMaxDepth = 256; // deeper answers are cut, not followed into a stack overflow

bool SameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

void ReadChildren(QXmlStreamReader& reader, XmlNode& node, int depth)
{
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (depth >= kMaxDepth) {
                reader.skipCurrentElement();
                continue;
            }
            XmlNode child;
            child.name = reader.name().toString();
            ReadChildren(reader, child, depth + 1);
            node.children.push_back(std::move(child));
        } else if (token == QXmlStreamReader::Characters) {
            node.text += reader.text();
        } else if (token == QXmlStreamReader::EndElement) {
            break;
        }
    }
    node.text = node.text.trimmed();
}

void Collect(const XmlNode& node, const QString& name, std::vector<const XmlNode*>& out)
{
    for (const XmlNode& child : node.children) {
        if (SameName(child.name, name))
            out.push_back(&child);
        else
            Collect(child, name, out);
    }
}

} // namespace

const XmlNode* XmlNode::find(const QString& wanted) const
{
    for (const XmlNode& child : children) {
        if (SameName(child.name, wanted))
            return &child;
        if (const XmlNode* deeper = child.find(wanted))
            return deeper;
    }
    return nullptr;
}

std::vector<const XmlNode*> XmlNode::findAll(const QString& wanted) const
{
    std::vector<const XmlNode*> out;
    Collect(*this, wanted, out);
    return out;
}

QString XmlNode::value(const QString& wanted) const
{
    const XmlNode* node = find(wanted);
    return node ? node->text : QString();
}

XmlNode ParseXml(const QByteArray& data)
{
    QXmlStreamReader reader(data);
    XmlNode root;
    ReadChildren(reader, root, 0);
    return root;
}

QVariant XmlRpcValue(const XmlNode& valueNode)
{
    if (valueNode.children.empty())
        return valueNode.text; // a bare <value>text</value> is a string
    const XmlNode& typed = valueNode.children.front();
    if (SameName(typed.name, QStringLiteral("struct"))) {
        QVariantMap map;
        for (const XmlNode& member : typed.children) {
            if (!SameName(member.name, QStringLiteral("member")))
                continue;
            const XmlNode* name = member.find(QStringLiteral("name"));
            const XmlNode* value = nullptr;
            for (const XmlNode& part : member.children)
                if (SameName(part.name, QStringLiteral("value")))
                    value = &part;
            if (name && value)
                map.insert(name->text, XmlRpcValue(*value));
        }
        return map;
    }
    if (SameName(typed.name, QStringLiteral("array"))) {
        QVariantList list;
        if (const XmlNode* data = typed.find(QStringLiteral("data")))
            for (const XmlNode& item : data->children)
                if (SameName(item.name, QStringLiteral("value")))
                    list << XmlRpcValue(item);
        return list;
    }
    return typed.text;
}

QVariant XmlRpcResult(const XmlNode& document)
{
    if (document.find(QStringLiteral("fault")))
        return {};
    const XmlNode* params = document.find(QStringLiteral("params"));
    const XmlNode* value = params ? params->find(QStringLiteral("value")) : nullptr;
    return value ? XmlRpcValue(*value) : QVariant();
}

} // namespace crash::http
