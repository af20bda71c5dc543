#pragma once
// The cipher of the passwords kept in the settings resource. It keeps them out of plain sight in
// the binary, nothing more: whoever has the binary and this code can recover them. Each password
// is keyed by its account and server name, so a password copied to another account's entry does
// not decipher. Stored form: lower-case hex of an 8-byte nonce, the enciphered UTF-8 text and a
// 4-byte check value.

#include <QString>
#include <optional>

namespace crash {

QString EncipherPassword(const QString& plain, const QString& account, const QString& server);

// Nothing for a text that is not a password enciphered for this account and server.
std::optional<QString> DecipherPassword(const QString& stored, const QString& account, const QString& server);

} // namespace crash
