#include "crash/ui/DialogTexts.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace crash::ui {

QString BreakSentences(const QString& message)
{
    const qsizetype length = message.size();
    QString result;
    result.reserve(length + 16);
    for (qsizetype i = 0; i < length; ++i) {
        const qsizetype position = i + 1;
        result += message[i];
        if (message[i] == QLatin1Char('.') && position >= 20 && position <= length - 10 && i + 1 < length &&
            message[i + 1] == QLatin1Char(' ')) {
            result += QLatin1String("\r\n");
            ++i; // the blank is replaced
        }
    }
    return result;
}

QString ProgramBaseName()
{
    const QString path = QCoreApplication::applicationFilePath();
    return path.isEmpty() ? QCoreApplication::applicationName() : QFileInfo(path).completeBaseName();
}

QString VisibleCaption(const QString& caption)
{
    QString visible;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&') && i + 1 < caption.size())
            ++i;
        visible += caption[i];
    }
    return visible;
}

} // namespace crash::ui
