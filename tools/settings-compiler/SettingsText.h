#pragma once
// The readable form of a settings resource and its translation into the binary stream.
//
//   // a comment line
//   object Halvorn: THalvorn
//     Enabled = True                    flag (False / True)
//     FreezeTimeout = 60000             number: the smallest of 8, 16 and 32 bits that holds it
//     Style = bsFlat                    identifier
//     MailSubj = 'bug report'           8-bit text (Latin-1); over 255 bytes it becomes a long text
//     BugTrDescr = 'details: '#13#10'%errorDetails%'   pieces and #code characters join up
//     Greeting = utf8'Grüße, 世界'       UTF-8 text
//     Title = utf16'Ошибка'             UTF-16 text
//   end
//
// Inside quotes '' stands for one quote. A trailing "// comment" may follow a value.

#include "crash/core/settings/SettingsResource.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

namespace tools {

struct SettingsTextEntry
{
    std::string name;
    crash::SettingsValueType type = crash::SettingsValueType::False;
    std::int32_t number = 0;
    QString text;
    int line = 0;
};

struct SettingsTextDocument
{
    std::string objectName;
    std::string className;
    std::vector<SettingsTextEntry> entries;
    // Nested "object ... end" blocks: the child objects of a form stream.
    std::vector<SettingsTextDocument> children;
};

// False with "line N: what is wrong" in `error`.
bool ParseSettingsText(const QString& text, SettingsTextDocument& document, QString& error);

QByteArray WriteSettingsStream(const SettingsTextDocument& document);

// A form stream: "TPF0", then each object as class name, object name, properties, an end marker,
// its child objects and an end marker.
QByteArray WriteFormStream(const SettingsTextDocument& document);

// C++ source that links `stream` into a module as its resource `name` (an ELF note of type RCDATA).
QByteArray SettingsResourceSource(const QByteArray& stream, const QString& origin,
                                  const char* name = crash::SettingsResourceName);

} // namespace tools
