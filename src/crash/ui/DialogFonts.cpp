#include "crash/ui/DialogFonts.h"

#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <atomic>

namespace crash::ui {

namespace {

std::atomic<bool> tahomaDisabled{false};

bool FamilyMatches(const QFont& font, const QString& family)
{
    return QFontInfo(font).family().compare(family, Qt::CaseInsensitive) == 0;
}

} // namespace

void DialogFonts::loadWineFonts()
{
    static const bool loaded = [] {
        for (const char* folder : {"/usr/share/wine/fonts", "/usr/share/fonts/truetype/wine"})
            for (const char* file : {"tahoma.ttf", "tahomabd.ttf"}) {
                const QString path = QLatin1String(folder) + QLatin1Char('/') + QLatin1String(file);
                if (QFile::exists(path))
                    QFontDatabase::addApplicationFont(path);
            }
        return true;
    }();
    (void)loaded;
}

bool DialogFonts::hasTahoma()
{
    if (tahomaDisabled)
        return false;
    loadWineFonts();
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    return FamilyMatches(font, QStringLiteral("Tahoma"));
}

void DialogFonts::setTahomaDisabled(bool disabled)
{
    tahomaDisabled = disabled;
}

QFont DialogFonts::text()
{
    if (hasTahoma()) {
        QFont font(QStringLiteral("Tahoma"));
        font.setPixelSize(11);
        return font;
    }
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(12);
    return font;
}

QFont DialogFonts::report()
{
    QFont font(QStringLiteral("Courier New"));
    font.setPixelSize(11);
    if (!FamilyMatches(font, QStringLiteral("Courier New"))) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPixelSize(11);
    }
    return font;
}

QFont DialogFonts::heading()
{
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(15);
    font.setBold(true);
    return font;
}

} // namespace crash::ui
