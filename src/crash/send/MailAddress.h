#pragma once
// Mail addresses as the settings write them: one or more, separated by "," or ";", each either
// "user@host" or "Display Name <user@host>".

#include <QString>
#include <QStringList>

namespace crash::send {

// The addresses of a list, trimmed, empty ones left out.
QStringList SplitAddresses(const QString& list);

// The part inside "<" and ">", or the whole address trimmed.
QString BareAddress(const QString& address);

// The text before "<" trimmed, or the whole address when it has no "<".
QString DisplayName(const QString& address);

} // namespace crash::send
