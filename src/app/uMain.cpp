#include "app/uMain.h"

#include "app/FormAnchors.h"
#include "app/TSkinMaker.h"
#include "controls/RdImageButton.h"
#include "controls/TPicture.h"
#include "env/KRY_Comm.h"
#include "env/Orlix_Routine_New.h"
#include "platform/MessageBox.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QImageReader>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>

// The window's built-in pictures live in a static library; their registration must be pulled in.
static void initPictures()
{
    Q_INIT_RESOURCE(pictures);
}

namespace app {

const QString UninstallKeyPaths[3] = {
    QStringLiteral("\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirelune_is1"),
    QStringLiteral("\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirelune Beta_is1"),
    QStringLiteral("\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrane_is1"),
};

QString FindInstallLocation()
{
    QString result;
    for (const int entry : {1, 0, 2}) {
        if (!result.isEmpty())
            break;
        const auto key = env::OpenUninstallKey(UninstallKeyPaths[entry]);
        if (!key)
            continue;
        const std::optional<QString> location = env::ReadInstallLocation(*key);
        if (!location)
            return result; // a failed typed read ends the whole lookup
        result = *location;
    }
    return result;
}

bool IsUnsafeSkinName(const QString& name)
{
    if (name == QLatin1String(".") || name == QLatin1String("..") || name.endsWith(QLatin1Char('.')))
        return true;
    for (const QChar c : name)
        if (c.unicode() < 0x20 || QStringLiteral("\\/:*?\"<>|").contains(c))
            return true;
    // Windows takes "con.rcc" and "con.anything.rcc" for the device as well.
    const QString stem = name.section(QLatin1Char('.'), 0, 0).toUpper();
    static const QRegularExpression device(QStringLiteral("^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])$"));
    return device.match(stem).hasMatch();
}

QString NormalizeSkinName(const QString& text)
{
    QString name = env::TrimBlanks(text);
    for (QChar& c : name)
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + 32);
    return name;
}

namespace {
QString g_toolFolder;
}

QString ToolFolder()
{
    if (!g_toolFolder.isEmpty())
        return g_toolFolder;
    return QCoreApplication::applicationDirPath() + QLatin1Char('/');
}

void SetToolFolder(const QString& folder)
{
    g_toolFolder = folder.isEmpty() || folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

namespace {

QFont windowFont(int pixelHeight, bool bold = false)
{
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif); // the system's sans font where Tahoma is missing
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    return font;
}

// The window's pictures are PNG files among its resources. Named as such, they are read without
// the framework first loading every image-format plugin to ask whether it reads PNG.
QImage builtInPicture(const QString& path)
{
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

void setBlueText(QWidget* w)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, QColor(0, 0, 255));
    w->setPalette(p);
}

} // namespace

TfrmMain::TfrmMain(QWidget* parent) : QWidget(parent)
{
    initPictures();
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(kApplicationTitle);
    setWindowIcon(QIcon(QPixmap::fromImage(builtInPicture(QStringLiteral(":/pictures/mainicon.png")))));
    // System menu and minimise only; the frame stays sizeable.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    // The button-face colour behind everything; a background role of Button would also turn
    // every child's text into button text, so the colour is set on the window role instead.
    QPalette windowPalette = palette();
    windowPalette.setColor(QPalette::Window, windowPalette.color(QPalette::Button));
    setPalette(windowPalette);
    setAutoFillBackground(true);
    setFont(windowFont(11));
    setAcceptDrops(false); // dropped files are never used
    resize(523, 354);
    createControls();
    FormCreate();
}

QLabel* TfrmMain::addLabel(QWidget* parent, const char* name, const QRect& geometry, const QString& text)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(geometry);
    return label;
}

QPushButton* TfrmMain::addButton(QWidget* parent, const char* name, const QRect& geometry,
                                 const QString& text)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    return button;
}

// A label that is not of fixed size takes its text's width, from its designed top-left corner.
void TfrmMain::autoSize(QLabel* label)
{
    const QPoint topLeft = label->pos();
    label->adjustSize();
    label->move(topLeft);
}

void TfrmMain::makeLink(QLabel* label)
{
    setBlueText(label);
    label->setCursor(Qt::PointingHandCursor);
}

void TfrmMain::createControls()
{
    lbl_openskin = addLabel(this, "lbl_openskin", {303, 319, 191, 13},
                            QStringLiteral("Click here to open the created new skin"));
    makeLink(lbl_openskin);
    lbl_openskin->hide();

    GroupBox_Make = new QGroupBox(QStringLiteral("make skin"), this);
    GroupBox_Make->setObjectName(QStringLiteral("GroupBox_Make"));
    GroupBox_Make->setGeometry(24, 8, 481, 289);
    QWidget* g = GroupBox_Make;

    lbl_Atten =
        addLabel(g, "lbl_Atten", {51, 77, 309, 13},
                 QStringLiteral("Click to open the skin directory. Modify skins in the images folder"));
    makeLink(lbl_Atten);
    autoSize(lbl_Atten);

    lbl_SkinPath = addLabel(g, "lbl_SkinPath", {51, 132, 53, 13}, QStringLiteral("Skin Name:"));
    autoSize(lbl_SkinPath);
    lbl_SaveFile = addLabel(g, "lbl_SaveFile", {48, 162, 53, 13}, QStringLiteral("Save Path:"));
    autoSize(lbl_SaveFile);
    lbl_SaveFile->hide();
    lbl_FileName = addLabel(g, "lbl_FileName", {-56, 56, 43, 13}, QStringLiteral("FileName"));
    autoSize(lbl_FileName);
    makeLink(lbl_FileName);
    lbl_FileName->hide();

    imgPreview = new QLabel(g);
    imgPreview->setObjectName(QStringLiteral("imgPreview"));
    imgPreview->installEventFilter(this); // its picture comes when it is first shown
    imgPreview->setScaledContents(true);
    imgPreview->setGeometry(71, 237, 180, 120);
    imgPreview->hide();

    // The step markers as their form data sets them: size, caption, font and normal picture.
    // The three pictures are the same bytes, so they share one entry of the PNG data list.
    controls::TRdImageButton** markers[] = {&ImageButton1, &ImageButton2, &ImageButton3};
    const QRect markerGeometry[] = {{12, 25, 30, 30}, {12, 100, 30, 30}, {11, 181, 30, 30}};
    for (int i = 0; i < 3; ++i) {
        auto* marker = new controls::TRdImageButton(g);
        marker->setObjectName(QStringLiteral("ImageButton%1").arg(i + 1));
        marker->Loading();
        marker->SetBounds(markerGeometry[i].x(), markerGeometry[i].y(), markerGeometry[i].width(),
                          markerGeometry[i].height());
        marker->setProperty("Caption", QString::number(i + 1));
        marker->setProperty("Font", windowFont(14, true));
        marker->setProperty("FontColor", controls::clWhite);
        controls::TPicture picture;
        picture.LoadFromFile(QStringLiteral(":/pictures/step_marker.png"));
        marker->setProperty("ImageNormal", QVariant::fromValue(&picture));
        marker->Loaded();
        *markers[i] = marker;
    }

    lbl_one = addLabel(
        g, "lbl_one", {51, 32, 427, 47},
        QStringLiteral("Click the link below to open the images directory. Then replace them with your "
                       "pictures. Note: Please make sure your new pictures have the same name, size and "
                       "format as the original pictures."));
    lbl_one->setWordWrap(true);
    Label1 = addLabel(g, "Label1", {48, 107, 408, 13},
                      QStringLiteral("Name your new skin to distinguish it from the others."));
    Label2 =
        addLabel(g, "Label2", {47, 190, 406, 43},
                 QStringLiteral("Click \"Make\" button to make your skin is usable for Mirelune 11 PRO."));
    Label2->setWordWrap(true);

    imgSkin_menu = new QLabel(g);
    imgSkin_menu->setObjectName(QStringLiteral("imgSkin_menu"));
    imgSkin_menu->installEventFilter(this);
    imgSkin_menu->setScaledContents(true);
    imgSkin_menu->setGeometry(179, 216, 150, 100);
    imgSkin_menu->hide();

    Button_Make = addButton(g, "Button_Make", {315, 237, 154, 49}, QStringLiteral("Make"));
    connect(Button_Make, &QPushButton::clicked, this, &TfrmMain::Button_MakeClick);
    Edit_root = new QLineEdit(g);
    Edit_root->setObjectName(QStringLiteral("Edit_root"));
    Edit_root->setGeometry(114, 129, 351, 21);
    Edit_root->setMaxLength(40); // any character is accepted; the Make trims and lower-cases
    btnBrowse = addButton(g, "btnBrowse", {459, 157, 91, 25}, QStringLiteral("Browse..."));
    btnBrowse->hide();
    connect(btnBrowse, &QPushButton::clicked, this, &TfrmMain::btnBrowseClick);
    cbRGBBGR = new QCheckBox(QStringLiteral("rgb => bgr"), g);
    cbRGBBGR->setObjectName(QStringLiteral("cbRGBBGR"));
    cbRGBBGR->setGeometry(384, 85, 97, 17);
    cbRGBBGR->hide();

    GroupBox_Explorer = new QGroupBox(QStringLiteral("Explorer"), this);
    GroupBox_Explorer->setObjectName(QStringLiteral("GroupBox_Explorer"));
    GroupBox_Explorer->setGeometry(37, 456, 478, 122);
    Label3 = addLabel(GroupBox_Explorer, "Label3", {24, 29, 42, 13}, QStringLiteral("Skin File:"));
    autoSize(Label3);
    Edit_rccfile = new QLineEdit(GroupBox_Explorer);
    Edit_rccfile->setObjectName(QStringLiteral("Edit_rccfile"));
    Edit_rccfile->setGeometry(87, 26, 176, 21);
    Button_Load = addButton(GroupBox_Explorer, "Button_Load", {276, 24, 91, 25}, QStringLiteral("Load Skin"));
    GroupBox_Explorer->hide();

    popMnu = new QMenu(this);
    popMnu->setObjectName(QStringLiteral("popMnu"));
    popMnu->addAction(QStringLiteral("SaveAs..."))->setObjectName(QStringLiteral("nSaveToFile"));
    popMnu->addSeparator()->setObjectName(QStringLiteral("N1"));
    popMnu->addAction(QStringLiteral("ExportAll"))->setObjectName(QStringLiteral("nExportAll"));

    // The link labels take clicks and hovering through the window.
    for (QLabel* link : {lbl_openskin, lbl_Atten, lbl_FileName})
        link->installEventFilter(this);

    SetAnchors(lbl_FileName, akTop | akRight);
    SetAnchors(Button_Make, akTop | akRight);
    SetAnchors(btnBrowse, akTop | akRight);
    SetAnchors(GroupBox_Explorer, akLeft | akTop | akRight | akBottom);
    SetAnchors(Edit_rccfile, akLeft | akTop | akRight);
    SetAnchors(Button_Load, akTop | akRight);

    // Tab order: the group boxes first, then inside "make skin": Make, the name, Browse, the option.
    setTabOrder(Button_Make, Edit_root);
    setTabOrder(Edit_root, btnBrowse);
    setTabOrder(btnBrowse, cbRGBBGR);
    setTabOrder(cbRGBBGR, Edit_rccfile);
    setTabOrder(Edit_rccfile, Button_Load);
}

void TfrmMain::FormCreate()
{
    const QString location = FindInstallLocation();
    if (location.isEmpty()) {
        platform::ShowMessageBox(QStringLiteral("Your computer doesn't have Mirelune 11 installed."));
        m_terminateRequested = true;
        return;
    }
    m_productSkinFolder = location + QStringLiteral("Skin\\");
}

void TfrmMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_centred)
        return;
    m_centred = true;
    if (QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    Button_Make->setFocus(Qt::OtherFocusReason);
}

QImage TfrmMain::previewPicture() const
{
    if (m_previewPicture.isNull())
        m_previewPicture = builtInPicture(QStringLiteral(":/pictures/preview.png"));
    return m_previewPicture;
}

QImage TfrmMain::skinMenuPicture() const
{
    if (m_skinMenuPicture.isNull())
        m_skinMenuPicture = builtInPicture(QStringLiteral(":/pictures/skin_menu.png"));
    return m_skinMenuPicture;
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event)
{
    // The hidden pictures are decoded only if they are ever shown.
    if (event->type() == QEvent::Show && (watched == imgPreview || watched == imgSkin_menu)) {
        auto* picture = static_cast<QLabel*>(watched);
        if (picture->pixmap().isNull())
            picture->setPixmap(
                QPixmap::fromImage(watched == imgPreview ? previewPicture() : skinMenuPicture()));
    }
    const bool click = event->type() == QEvent::MouseButtonRelease;
    const bool enter = event->type() == QEvent::Enter;
    const bool leave = event->type() == QEvent::Leave;
    if (auto* label = qobject_cast<QLabel*>(watched); label && (click || enter || leave)) {
        if (click && label == lbl_Atten)
            lbl_AttenClick();
        else if (click && label == lbl_FileName)
            lbl_FileNameClick();
        else if (click && label == lbl_openskin)
            lbl_openskinClick();
        else if ((enter || leave) && (label == lbl_Atten || label == lbl_FileName)) {
            QFont font = label->font();
            font.setUnderline(enter);
            label->setFont(font);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TfrmMain::lbl_AttenClick()
{
    env::OpenFolderAndSelect(ToolFolder() + QStringLiteral("classic/images"));
}

void TfrmMain::lbl_FileNameClick()
{
    env::OpenFolderAndSelect(lbl_FileName->text());
}

void TfrmMain::lbl_openskinClick()
{
    // The name as typed, only trimmed: the file manager selects the same file in any case.
    const QString typed = Edit_root->text();
    const QString bundle = typed.isEmpty() ? QStringLiteral("classic") : env::TrimBlanks(typed);
    env::OpenFolderAndSelect(FindInstallLocation() + QStringLiteral("Skin\\") + bundle +
                             QStringLiteral(".rcc"));
}

void TfrmMain::Button_MakeClick()
{
    TSkinMaker maker(ToolFolder(), m_productSkinFolder, previewPicture(), skinMenuPicture());
    switch (maker.Prepare(Edit_root->text())) {
    case TSkinMaker::Readiness::NameRefused:
        Edit_root->setFocus();
        return;
    case TSkinMaker::Readiness::ProductMissing:
        return;
    case TSkinMaker::Readiness::Ready:
        break;
    }
    Button_Make->setEnabled(false);
    if (maker.Build(cbRGBBGR->isChecked())) {
        lbl_openskin->setVisible(true);
        lbl_openskinClick();
    }
    Button_Make->setEnabled(true);
}

void TfrmMain::btnBrowseClick()
{
    const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Select Directory"));
    if (!folder.isEmpty())
        Edit_root->setText(folder);
}

} // namespace app
