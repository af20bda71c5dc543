#pragma once
// The tool's only window: the three steps of making a skin, the skin-name field and "Make".
// Its creation looks the product up; without one the program ends before the window shows.

#include <QImage>
#include <QLabel>
#include <QWidget>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QMenu;
class QPushButton;

namespace controls {
class TRdImageButton;
}

namespace app {

inline const QString kApplicationTitle = QStringLiteral("Mirelune 11 Skin Tool");

// The product's uninstall keys under HKEY_LOCAL_MACHINE, probed in the order 1, 0, 2.
extern const QString UninstallKeyPaths[3];

// The product's installation folder with a trailing "\" (a Windows path), or "" when the product
// is not installed. Reads the registry afresh on every call and never fails.
QString FindInstallLocation();

// The folder of the running executable, with a trailing separator; the working folders
// "classic", "public", "NewSkin" and the resource compiler live there.
QString ToolFolder();
// Tests run the tool's work in a folder of their own; an empty path restores the executable's.
void SetToolFolder(const QString& folder);

// The vendor's web site, opened when a Make finds the product missing.
inline const QString kVendorWebSite = QStringLiteral("https://www.orlix.example/mirelune/");

// A skin name (already trimmed and lower-cased) that cannot be part of a Windows file name:
// reserved characters, control characters, "." and "..", a final dot, a device name.
bool IsUnsafeSkinName(const QString& name);

// The name as the Make uses it: characters up to blank trimmed from both ends, A-Z lower-cased.
QString NormalizeSkinName(const QString& text);

class TfrmMain : public QWidget
{
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);

    // Set by FormCreate when the product is missing: the window must not be shown and the
    // application ends as soon as its message loop starts.
    bool terminateRequested() const { return m_terminateRequested; }
    // Installation folder + "Skin\", fixed at creation.
    QString productSkinFolder() const { return m_productSkinFolder; }

    // Built-in pictures written out as previews by a Make; decoded when first asked for (also by
    // their hidden labels when shown), not with the window.
    QImage previewPicture() const;
    QImage skinMenuPicture() const;

protected:
    void showEvent(QShowEvent* event) override;

public:
    // The Make command (its work is TSkinMaker's).
    void Button_MakeClick();

    // Folder links.
    void lbl_AttenClick();
    void lbl_FileNameClick();
    void lbl_openskinClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void btnBrowseClick();

private:
    void createControls();
    void FormCreate();
    QLabel* addLabel(QWidget* parent, const char* name, const QRect& geometry, const QString& text);
    QPushButton* addButton(QWidget* parent, const char* name, const QRect& geometry, const QString& text);
    static void makeLink(QLabel* label);
    static void autoSize(QLabel* label);

public:
    // Controls, named as in the window's design.
    QLabel* lbl_openskin = nullptr;
    QGroupBox* GroupBox_Make = nullptr;
    QLabel* lbl_Atten = nullptr;
    QLabel* lbl_SkinPath = nullptr;
    QLabel* lbl_SaveFile = nullptr;
    QLabel* lbl_FileName = nullptr;
    QLabel* imgPreview = nullptr;
    controls::TRdImageButton* ImageButton1 = nullptr;
    controls::TRdImageButton* ImageButton2 = nullptr;
    controls::TRdImageButton* ImageButton3 = nullptr;
    QLabel* lbl_one = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* imgSkin_menu = nullptr;
    QPushButton* Button_Make = nullptr;
    QLineEdit* Edit_root = nullptr;
    QPushButton* btnBrowse = nullptr;
    QCheckBox* cbRGBBGR = nullptr;
    QGroupBox* GroupBox_Explorer = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* Edit_rccfile = nullptr;
    QPushButton* Button_Load = nullptr;
    QMenu* popMnu = nullptr;

private:
    bool m_terminateRequested = false;
    bool m_centred = false;
    QString m_productSkinFolder;
    mutable QImage m_previewPicture;
    mutable QImage m_skinMenuPicture;
};

} // namespace app
