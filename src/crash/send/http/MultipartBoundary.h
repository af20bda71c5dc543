#pragma once
// The boundary between the parts of a multipart body (a mail, a form upload). A fixed text could be
// written into a field or a mail line by whoever controls that content, and would then start a part
// of its own; so every body gets a random boundary that its text parts are checked against.

#include <QByteArray>
#include <QByteArrayView>
#include <functional>

namespace crash::http {

// A boundary the content does not hold: "Trevasil_multipart_boundary_" and 32 random hexadecimal
// digits, drawn again (a bounded number of times) while `heldByContent` says the content holds it.
// `draw` replaces the random part in tests.
QByteArray ChooseMultipartBoundary(const std::function<bool(QByteArrayView boundary)>& heldByContent,
                                   const std::function<QByteArray()>& draw = {});

} // namespace crash::http
