#pragma once
// The Make command without its window: checks the typed name, stamps it into the colour table,
// compiles both bundles, writes the preview pictures and, when the skin bundle exists, stops the
// product, points its Main.ini at the new skin, installs both bundles and starts the product.
// The window disables its button around Build and shows the link afterwards. Exceptions of the
// pipeline are not caught here: they reach the application's one handling point.

#include <QImage>
#include <QString>

namespace app {

class TSkinMaker
{
public:
    // `toolFolder` holds classic/, public/, NewSkin/ and rcc.exe (with a trailing separator);
    // `productSkinFolder` is the product's "Skin\" folder as a Windows path.
    TSkinMaker(const QString& toolFolder, const QString& productSkinFolder, const QImage& previewPicture,
               const QImage& skinMenuPicture);

    enum class Readiness
    {
        Ready,
        NameRefused,   // the user was told; the name field should take the focus
        ProductMissing // the user was told and sent to the vendor's page
    };
    // Validates the typed text and looks the product up again, telling the user what stops the
    // Make. When Ready, Name() is the skin name as the Make uses it.
    Readiness Prepare(const QString& typedText);
    QString Name() const { return m_name; }

    // The work after the button is disabled. Returns whether the new skin was installed (the
    // success box was shown); false after "Failed to make new skin!".
    bool Build(bool rgbToBgr);

    // Sets Skin in the product's Main.ini when that file exists.
    void SetProductSkin(const QString& name) const;
    // Copies both bundles into the product's Skin folder, each under its final name in one step.
    void InstallSkinFiles(const QString& name) const;

private:
    static void writePicture(const QImage& picture, const QString& path);

    QString m_toolFolder;
    QString m_productSkinFolder;
    QImage m_previewPicture;
    QImage m_skinMenuPicture;
    QString m_name;
};

} // namespace app
