#pragma once
// Mail addresses as the settings write them: one or more, separated by "," or ";", each either
// "user@host" or "Display Name <user@host>"; a display name that holds "," or ";" is written in
// double quotes ("\"Doe, Jane\" <jane@host>").

#include <QString>
#include <QStringList>

namespace crash::send {

// The addresses of a list, trimmed, empty ones left out; separators inside quotes do not count.
QStringList SplitAddresses(const QString& list);

// The part inside "<" and ">", or the whole address trimmed.
QString BareAddress(const QString& address);

// The text before "<" trimmed and taken out of its quotes, or the whole address when it has no "<".
QString DisplayName(const QString& address);

// The name in double quotes (with "\\" and "\"" escaped) when it holds a special character
// ("," ";" "\"" and the like), else as it is.
QString QuotedDisplayName(const QString& name);

// "name <user@host>" with the name in quotes when it holds a special character ("," ";" "\"" and
// the like), or the bare address when there is no name: an address a reader of a list takes whole.
QString QuotedAddress(const QString& address);

} // namespace crash::send
