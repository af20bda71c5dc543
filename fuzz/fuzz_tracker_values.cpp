// Any bytes as a bug tracker's answer, through every value the tracker uploads take from one:
// nothing may crash or hang, a chosen name is always one the answer listed, and an id found for a
// name is the id of a listed item of that name.
#include "FuzzCheck.h"

#include "crash/send/http/TrackerValues.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using fuzz::check;
using namespace crash::http;

namespace {

void CheckChoices(const QStringList& listed, const QString& wanted)
{
    const QString name = ListedName(listed, wanted);
    check(name.isEmpty() || (listed.contains(name) && name.compare(wanted, Qt::CaseInsensitive) == 0));
    check(wanted.isEmpty() || !listed.contains(wanted) || !name.isEmpty());
    const QString chosen = ListedOrFirst(listed, {QStringLiteral("bug"), wanted});
    check(listed.isEmpty() ? chosen.isEmpty() : listed.contains(chosen));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const XmlNode tree = ParseXml(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));

    const QString script = FogBugzScriptPath(tree);
    check(script.isEmpty() || (script.size() > 1 && script.startsWith(QLatin1Char('/'))));
    QStringList people;
    for (const XmlNode* person : tree.findAll(QStringLiteral("person")))
        people << person->value(QStringLiteral("sFullName"));
    CheckChoices(people, people.value(int(size % 7)));

    const XmlNode* result = tree.find(QStringLiteral("return"));
    const std::vector<NamedId> items = MantisItems(result ? *result : tree);
    const QStringList names = NamesOf(items);
    check(qsizetype(items.size()) == names.size());
    const QString wanted = names.value(int(size % 5)).toUpper();
    CheckChoices(names, wanted);
    if (const QString id = IdOf(items, wanted); !id.isEmpty()) {
        bool found = false;
        for (const NamedId& item : items)
            found = found || (item.id == id && item.name.compare(wanted, Qt::CaseInsensitive) == 0);
        check(found);
    }

    const QVariant answer = XmlRpcResult(tree);
    const QStringList products = NamesOf(answer.toMap().value(QStringLiteral("products")));
    CheckChoices(products, products.value(0));
    const QHash<QString, QStringList> fields = FieldValues(answer);
    for (auto field = fields.begin(); field != fields.end(); ++field) {
        check(field.key() == field.key().toLower());
        CheckChoices(field.value(), field.key());
    }
    return 0;
}
