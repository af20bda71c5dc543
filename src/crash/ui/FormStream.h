#pragma once
// Reading a form stream: "TPF0", then objects, each a length-prefixed class name and object name,
// its properties (length-prefixed name, value-type byte, value), an end marker, its child objects
// and an end marker. Value types as in the settings resource (integers, 8-bit, UTF-8 and UTF-16
// texts, identifiers, booleans).
//
// The reader never reads outside the data: a truncated stream or an unknown value type ends the
// reading, keeping what was read before.

#include <QList>
#include <QString>
#include <QVariant>
#include <optional>
#include <span>

namespace crash::ui {

struct FormObject
{
    QString className;
    QString name;
    QList<std::pair<QString, QVariant>> properties; // in stream order
    QList<FormObject> children;
};

// None when the data does not begin with "TPF0".
std::optional<FormObject> ReadFormStream(std::span<const std::byte> data);

// The form stream resource `name` of the executable; empty when it carries none.
std::span<const std::byte> FormResource(const QString& name);

} // namespace crash::ui
