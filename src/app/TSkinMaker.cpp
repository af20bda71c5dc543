#include "app/TSkinMaker.h"

#include "app/ColorTable.h"
#include "app/ResourceCompiler.h"
#include "app/uMain.h"
#include "env/KRY_Comm.h"
#include "env/Orlix_Routine_New.h"
#include "env/TIniFile.h"
#include "imaging/TPngImage.h"
#include "platform/Exception.h"
#include "platform/FileCopy.h"
#include "platform/MessageBox.h"
#include "platform/Shell.h"
#include "platform/WinePrefix.h"

#include <QFile>

namespace app {

TSkinMaker::TSkinMaker(const QString& toolFolder, const QString& productSkinFolder,
                       const QImage& previewPicture, const QImage& skinMenuPicture)
    : m_toolFolder(toolFolder), m_productSkinFolder(productSkinFolder), m_previewPicture(previewPicture),
      m_skinMenuPicture(skinMenuPicture)
{
}

TSkinMaker::Readiness TSkinMaker::Prepare(const QString& typedText)
{
    using platform::ShowMessageBox;
    m_name.clear();
    if (typedText.isEmpty()) {
        ShowMessageBox(QStringLiteral("Skin name cannot be empty!"), kApplicationTitle);
        return Readiness::NameRefused;
    }
    // The name becomes part of file names here and in the product's folder: refuse what Windows
    // could not store, before anything is written.
    const QString name = NormalizeSkinName(typedText);
    if (name.isEmpty() || IsUnsafeSkinName(name)) {
        ShowMessageBox(
            name.isEmpty()
                ? QStringLiteral("Skin name cannot be empty!")
                : QStringLiteral("Skin name contains characters that cannot be used in a file name."),
            kApplicationTitle);
        return Readiness::NameRefused;
    }
    if (FindInstallLocation().isEmpty()) {
        ShowMessageBox(QStringLiteral("Please install Mirelune 11"), kApplicationTitle);
        platform::ShellOpen(kVendorWebSite);
        return Readiness::ProductMissing;
    }
    m_name = name;
    return Readiness::Ready;
}

bool TSkinMaker::Build(bool rgbToBgr)
{
    using platform::ShowMessageBox;
    // The tool's own folders are found without regard to case, as on Windows.
    const auto folder = [this](const char* relative) {
        return platform::WinePrefix::resolveNativePath(m_toolFolder + QLatin1String(relative));
    };
    WriteColorSettings(m_toolFolder, m_name, rgbToBgr);
    RunResourceCompiler(m_name, folder("classic/"));
    writePicture(m_previewPicture,
                 folder("public/preview/") + QStringLiteral("preview_") + m_name + QStringLiteral(".png"));
    writePicture(m_skinMenuPicture,
                 folder("public/images/") + QStringLiteral("skin_menu_") + m_name + QStringLiteral(".png"));
    RunResourceCompiler(QStringLiteral("public"), folder("public/"));

    if (!QFile::exists(m_toolFolder + QStringLiteral("NewSkin/") + m_name + QStringLiteral(".rcc"))) {
        ShowMessageBox(QStringLiteral("Failed to make new skin!"), kApplicationTitle);
        return false;
    }
    ShowMessageBox(
        QStringLiteral("New skin is created successfully. Click the \"OK\" button to apply the new skin!"),
        kApplicationTitle);
    env::KillProcessesByName(QStringLiteral("KRY.exe"));
    SetProductSkin(m_name);
    InstallSkinFiles(m_name);
    platform::ShellOpen(FindInstallLocation() + QStringLiteral("Kry.exe"));
    return true;
}

void TSkinMaker::SetProductSkin(const QString& name) const
{
    const QString path =
        platform::WinePrefix::toNativePath(env::GetProductDataFolder() + QStringLiteral("Main.ini"));
    if (!QFile::exists(path))
        return;
    env::TIniFile settings(path);
    settings.WriteString(QStringLiteral("Main"), QStringLiteral("Skin"), name);
}

void TSkinMaker::InstallSkinFiles(const QString& name) const
{
    // Each bundle lands under its final name in one step, so a product started meanwhile never
    // reads half a file.
    const QString newSkin = m_toolFolder + QStringLiteral("NewSkin/");
    if (QFile::exists(newSkin + name + QStringLiteral(".rcc")))
        platform::CopyFileReplacing(newSkin + name + QStringLiteral(".rcc"),
                                    m_productSkinFolder + name + QStringLiteral(".rcc"));
    if (QFile::exists(newSkin + QStringLiteral("public.rcc")))
        platform::CopyFileReplacing(newSkin + QStringLiteral("public.rcc"),
                                    m_productSkinFolder + QStringLiteral("public.rcc"));
}

void TSkinMaker::writePicture(const QImage& picture, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw platform::Exception(
            QStringLiteral("Cannot create file \"%1\". %2").arg(path, file.errorString()));
    imaging::TPngImage png;
    png.Assign(picture);
    png.SaveToStream(file);
}

} // namespace app
