#pragma once
// A skinnable button drawn entirely from pictures: a background per visual state fitted through a
// design rectangle, an optional icon with five states in two sets (Up when expanded, Dn otherwise),
// an optional picture check box and a caption laid out with offsets, margins, wrapping and
// ellipsis. It paints over its parent (no background of its own).
//
// Every published property is a Qt property, so form data sets them by name. Between Loading() and
// Loaded() the setters only store: layout and the measure pass run once in Loaded().

#include "controls/ControlTypes.h"
#include "controls/RdScrollBar.h"
#include "controls/TImageButtonDefaults.h"
#include "controls/TPicture.h"
#include "controls/TPngGraphic.h"

#include <QFont>
#include <QMenu>
#include <QPointer>
#include <QWidget>
#include <functional>

class QHelpEvent;
class QMouseEvent;

namespace controls {

enum class TImageButtonState : quint8
{
    Normal,
    Pressed,
    Disabled,
    Selected
};
enum class TIconState : quint8
{
    Normal,
    Down,
    Hover,
    Disabled,
    Selected
};

struct THintInfo
{
    QPoint CursorPos;
    QRect CursorRect;
    QString HintStr;
};
using TShowHintEvent = std::function<void(QString& hintStr, bool& canShow, THintInfo& hintInfo)>;

class TRdImageButton : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool FoundTextEllipsis READ FoundTextEllipsis STORED false)
    Q_PROPERTY(bool FoundTextWordBreak READ FoundTextWordBreak STORED false)
    Q_PROPERTY(controls::TAlign Align READ Align WRITE SetAlign)
    Q_PROPERTY(controls::TAnchors Anchors READ Anchors WRITE SetAnchors)
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)
    Q_PROPERTY(bool EllipsisByHeight READ EllipsisByHeight WRITE SetEllipsisByHeight)
    Q_PROPERTY(bool AutoSizeByText READ AutoSizeByText WRITE SetAutoSizeByText)
    Q_PROPERTY(bool ShowAccelChar READ ShowAccelChar WRITE SetShowAccelChar)
    Q_PROPERTY(bool AutoShowHint READ AutoShowHint WRITE SetAutoShowHint)
    Q_PROPERTY(int FontDisabledColor READ FontDisabledColor WRITE SetFontDisabledColor)
    Q_PROPERTY(int FontHoverColor READ FontHoverColor WRITE SetFontHoverColor)
    Q_PROPERTY(int FontSelectedColor READ FontSelectedColor WRITE SetFontSelectedColor)
    Q_PROPERTY(int FontDownColor READ FontDownColor WRITE SetFontDownColor)
    Q_PROPERTY(QFont Font READ font WRITE SetFont)
    Q_PROPERTY(int FontColor READ FontColor WRITE SetFontColor)
    Q_PROPERTY(bool Visible READ Visible WRITE SetVisible)
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(controls::TPicture* ImageRange READ ImageRange WRITE SetImageRange)
    Q_PROPERTY(controls::TPicture* ImageNormal READ ImageNormal WRITE SetImageNormal)
    Q_PROPERTY(controls::TPicture* ImageDown READ ImageDown WRITE SetImageDown)
    Q_PROPERTY(controls::TPicture* ImageOver READ ImageOver WRITE SetImageOver)
    Q_PROPERTY(controls::TPicture* ImageDisabled READ ImageDisabled WRITE SetImageDisabled)
    Q_PROPERTY(bool Expand READ Expand WRITE SetExpand)
    Q_PROPERTY(controls::TPicture* ExpandImage READ ExpandImage WRITE SetExpandImage)
    Q_PROPERTY(controls::TPicture* ImageSelected READ ImageSelected WRITE SetImageSelected)
    Q_PROPERTY(controls::TDesignRect* ImageOption READ ImageOption WRITE SetImageOption)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(bool ParentShowHint READ ParentShowHint WRITE SetParentShowHint)
    Q_PROPERTY(bool ShowHint READ ShowHint WRITE SetShowHint)
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
    Q_PROPERTY(bool ParentFont READ ParentFont WRITE SetParentFont)
    Q_PROPERTY(QMenu* PopupMenu READ PopupMenu WRITE SetPopupMenu)
    Q_PROPERTY(controls::TPicture* UpDisableIcon READ UpDisableIcon WRITE SetUpDisableIcon)
    Q_PROPERTY(controls::TPicture* UpDownIcon READ UpDownIcon WRITE SetUpDownIcon)
    Q_PROPERTY(controls::TPicture* UpHoverIcon READ UpHoverIcon WRITE SetUpHoverIcon)
    Q_PROPERTY(controls::TPicture* UpNormalIcon READ UpNormalIcon WRITE SetUpNormalIcon)
    Q_PROPERTY(controls::TPicture* UpSelectedIcon READ UpSelectedIcon WRITE SetUpSelectedIcon)
    Q_PROPERTY(controls::TPicture* DnDisableIcon READ DnDisableIcon WRITE SetDnDisableIcon)
    Q_PROPERTY(controls::TPicture* DnDownIcon READ DnDownIcon WRITE SetDnDownIcon)
    Q_PROPERTY(controls::TPicture* DnHoverIcon READ DnHoverIcon WRITE SetDnHoverIcon)
    Q_PROPERTY(controls::TPicture* DnNormalIcon READ DnNormalIcon WRITE SetDnNormalIcon)
    Q_PROPERTY(controls::TPicture* DnSelectedIcon READ DnSelectedIcon WRITE SetDnSelectedIcon)
    Q_PROPERTY(controls::TAlignment ButtonCaptionAlignment READ ButtonCaptionAlignment WRITE
                   SetButtonCaptionAlignment)
    Q_PROPERTY(int TextLeftMargin READ TextLeftMargin WRITE SetTextLeftMargin)
    Q_PROPERTY(int TextRightMargin READ TextRightMargin WRITE SetTextRightMargin)
    Q_PROPERTY(int TextTopMargin READ TextTopMargin WRITE SetTextTopMargin)
    Q_PROPERTY(int TextOffset READ TextOffset WRITE SetTextOffset)
    Q_PROPERTY(int IconOffset READ IconOffset WRITE SetIconOffset)
    Q_PROPERTY(int IconOffsetY READ IconOffsetY WRITE SetIconOffsetY)
    Q_PROPERTY(int TextTopOffset READ TextTopOffset WRITE SetTextTopOffset)
    Q_PROPERTY(bool IconVisible READ IconVisible WRITE SetIconVisible)
    Q_PROPERTY(controls::TAlignment IconAlign READ IconAlign WRITE SetIconAlign)
    Q_PROPERTY(controls::TVerticalAlignment IconAlignY READ IconAlignY WRITE SetIconAlignY)
    Q_PROPERTY(int IconCursor READ IconCursor WRITE SetIconCursor)
    Q_PROPERTY(bool IconLockBySelected READ IconLockBySelected WRITE SetIconLockBySelected)
    Q_PROPERTY(bool IconFullClick READ IconFullClick WRITE SetIconFullClick)
    Q_PROPERTY(bool ShowCheckBox READ ShowCheckBox WRITE SetShowCheckBox)
    Q_PROPERTY(bool Checked READ Checked WRITE SetChecked)
    Q_PROPERTY(controls::TCheckBoxState CheckState READ CheckState WRITE SetCheckState)
    Q_PROPERTY(int CheckBoxCursor READ CheckBoxCursor WRITE SetCheckBoxCursor)
    Q_PROPERTY(controls::TPicture* CheckBoxNormalImage READ CheckBoxNormalImage WRITE SetCheckBoxNormalImage)
    Q_PROPERTY(
        controls::TPicture* CheckBoxCheckedImage READ CheckBoxCheckedImage WRITE SetCheckBoxCheckedImage)
    Q_PROPERTY(controls::TPicture* CheckBoxGrayedImage READ CheckBoxGrayedImage WRITE SetCheckBoxGrayedImage)
    Q_PROPERTY(controls::TPicture* CheckBoxCheckedGrayedImage READ CheckBoxCheckedGrayedImage WRITE
                   SetCheckBoxCheckedGrayedImage)
    Q_PROPERTY(bool CheckBoxFullClick READ CheckBoxFullClick WRITE SetCheckBoxFullClick)
    Q_PROPERTY(controls::TAlignment CheckBoxAlignX READ CheckBoxAlignX WRITE SetCheckBoxAlignX)
    Q_PROPERTY(controls::TVerticalAlignment CheckBoxAlignY READ CheckBoxAlignY WRITE SetCheckBoxAlignY)
    Q_PROPERTY(int CheckBoxOffset READ CheckBoxOffset WRITE SetCheckBoxOffset)
    Q_PROPERTY(int CheckBoxOffsetY READ CheckBoxOffsetY WRITE SetCheckBoxOffsetY)
    Q_PROPERTY(QString SubCaption READ SubCaption WRITE SetSubCaption)
    Q_PROPERTY(int SubCaptionOffset READ SubCaptionOffset WRITE SetSubCaptionOffset)
    Q_PROPERTY(QFont SubCaptionFont READ SubCaptionFont WRITE SetSubCaptionFont)
    Q_PROPERTY(QString SubCaptionData READ SubCaptionData WRITE SetSubCaptionData)
    Q_PROPERTY(QFont SubCaptionDataFont READ SubCaptionDataFont WRITE SetSubCaptionDataFont)
    Q_PROPERTY(bool WordWrap READ WordWrap WRITE SetWordWrap)
    Q_PROPERTY(controls::TAlignment TextWarpAlign READ TextWarpAlign WRITE SetTextWarpAlign)

public:
    explicit TRdImageButton(QWidget* parent = nullptr);
    ~TRdImageButton() override;

    // Component state. Form data loading runs between Loading() and Loaded().
    void Loading() { m_loading = true; }
    virtual void Loaded();
    bool IsLoading() const { return m_loading; }
    void SetDesigning(bool value) { m_designing = value; }
    bool IsDesigning() const { return m_designing; }
    // Whether form data carries the property: stored and not at its default.
    bool IsPropertyStored(const char* name) const;

    // Published properties.
    bool FoundTextEllipsis() const { return m_foundTextEllipsis; }
    bool FoundTextWordBreak() const { return m_foundTextWordBreak; }
    TAlign Align() const { return m_align; }
    void SetAlign(TAlign value);
    TAnchors Anchors() const { return m_anchors; }
    void SetAnchors(TAnchors value) { m_anchors = value; }
    bool AutoSize() const { return m_autoSize; }
    void SetAutoSize(bool value);
    bool EllipsisByHeight() const { return m_ellipsisByHeight; }
    void SetEllipsisByHeight(bool value);
    bool AutoSizeByText() const { return m_autoSizeByText; }
    void SetAutoSizeByText(bool value);
    bool ShowAccelChar() const { return m_showAccelChar; }
    void SetShowAccelChar(bool value) { SetLayout(m_showAccelChar, value); }
    bool AutoShowHint() const { return m_autoShowHint; }
    void SetAutoShowHint(bool value);
    TColor FontDisabledColor() const { return m_fontDisabledColor; }
    void SetFontDisabledColor(TColor value) { SetRepaint(m_fontDisabledColor, value); }
    TColor FontHoverColor() const { return m_fontHoverColor; }
    void SetFontHoverColor(TColor value) { m_fontHoverColor = value; }
    TColor FontSelectedColor() const { return m_fontSelectedColor; }
    void SetFontSelectedColor(TColor value) { SetRepaint(m_fontSelectedColor, value); }
    TColor FontDownColor() const { return m_fontDownColor; }
    void SetFontDownColor(TColor value) { m_fontDownColor = value; }
    void SetFont(const QFont& font) { setFont(font); }
    // The font's colour (the framework keeps it in the font).
    TColor FontColor() const { return m_fontColor; }
    void SetFontColor(TColor value);
    bool Visible() const { return !isHidden(); }
    void SetVisible(bool value) { setVisible(value); }
    QString Caption() const { return m_caption; }
    void SetCaption(const QString& value);
    TPicture* ImageRange() const { return m_imageRange; }
    void SetImageRange(TPicture* value) { m_imageRange->Assign(value); }
    TPicture* ImageNormal() const { return m_imageNormal; }
    void SetImageNormal(TPicture* value) { m_imageNormal->Assign(value); }
    TPicture* ImageDown() const { return m_imageDown; }
    void SetImageDown(TPicture* value) { m_imageDown->Assign(value); }
    TPicture* ImageOver() const { return m_imageOver; }
    void SetImageOver(TPicture* value) { m_imageOver->Assign(value); }
    TPicture* ImageDisabled() const { return m_imageDisabled; }
    void SetImageDisabled(TPicture* value);
    bool Expand() const { return m_expand; }
    void SetExpand(bool value) { SetRepaint(m_expand, value); }
    TPicture* ExpandImage() const { return m_expandImage; }
    void SetExpandImage(TPicture* value) { m_expandImage->Assign(value); }
    TPicture* ImageSelected() const { return m_imageSelected; }
    void SetImageSelected(TPicture* value) { m_imageSelected->Assign(value); }
    TDesignRect* ImageOption() const { return m_imageOption; }
    void SetImageOption(TDesignRect* value) { m_imageOption->Assign(value); }
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool value) { setEnabled(value); }
    bool ParentShowHint() const { return m_parentShowHint; }
    void SetParentShowHint(bool value) { m_parentShowHint = value; }
    bool ShowHint() const { return m_showHint; }
    void SetShowHint(bool value);
    QString Hint() const { return m_hint; }
    void SetHint(const QString& value) { m_hint = value; }
    bool ParentFont() const { return !testAttribute(Qt::WA_SetFont); }
    void SetParentFont(bool value);
    QMenu* PopupMenu() const { return m_popupMenu; }
    void SetPopupMenu(QMenu* value) { m_popupMenu = value; }
    TPicture* UpDisableIcon() const { return m_icons[Up][int(TIconState::Disabled)]; }
    void SetUpDisableIcon(TPicture* value) { UpDisableIcon()->Assign(value); }
    TPicture* UpDownIcon() const { return m_icons[Up][int(TIconState::Down)]; }
    void SetUpDownIcon(TPicture* value) { UpDownIcon()->Assign(value); }
    TPicture* UpHoverIcon() const { return m_icons[Up][int(TIconState::Hover)]; }
    void SetUpHoverIcon(TPicture* value) { UpHoverIcon()->Assign(value); }
    TPicture* UpNormalIcon() const { return m_icons[Up][int(TIconState::Normal)]; }
    void SetUpNormalIcon(TPicture* value) { UpNormalIcon()->Assign(value); }
    TPicture* UpSelectedIcon() const { return m_icons[Up][int(TIconState::Selected)]; }
    void SetUpSelectedIcon(TPicture* value) { UpSelectedIcon()->Assign(value); }
    TPicture* DnDisableIcon() const { return m_icons[Dn][int(TIconState::Disabled)]; }
    void SetDnDisableIcon(TPicture* value) { DnDisableIcon()->Assign(value); }
    TPicture* DnDownIcon() const { return m_icons[Dn][int(TIconState::Down)]; }
    void SetDnDownIcon(TPicture* value) { DnDownIcon()->Assign(value); }
    TPicture* DnHoverIcon() const { return m_icons[Dn][int(TIconState::Hover)]; }
    void SetDnHoverIcon(TPicture* value) { DnHoverIcon()->Assign(value); }
    TPicture* DnNormalIcon() const { return m_icons[Dn][int(TIconState::Normal)]; }
    void SetDnNormalIcon(TPicture* value) { DnNormalIcon()->Assign(value); }
    TPicture* DnSelectedIcon() const { return m_icons[Dn][int(TIconState::Selected)]; }
    void SetDnSelectedIcon(TPicture* value) { DnSelectedIcon()->Assign(value); }
    TAlignment ButtonCaptionAlignment() const { return m_buttonCaptionAlignment; }
    void SetButtonCaptionAlignment(TAlignment value) { SetLayout(m_buttonCaptionAlignment, value); }
    int TextLeftMargin() const { return m_textLeftMargin; }
    void SetTextLeftMargin(int value) { SetLayout(m_textLeftMargin, value); }
    int TextRightMargin() const { return m_textRightMargin; }
    void SetTextRightMargin(int value) { SetLayout(m_textRightMargin, value); }
    int TextTopMargin() const { return m_textTopMargin; }
    void SetTextTopMargin(int value) { SetLayout(m_textTopMargin, value); }
    int TextOffset() const { return m_textOffset; }
    void SetTextOffset(int value) { SetLayout(m_textOffset, value); }
    int IconOffset() const { return m_iconOffset; }
    void SetIconOffset(int value) { SetIconLayout(m_iconOffset, value); }
    int IconOffsetY() const { return m_iconOffsetY; }
    void SetIconOffsetY(int value) { SetIconLayout(m_iconOffsetY, value); }
    int TextTopOffset() const { return m_textTopOffset; }
    void SetTextTopOffset(int value) { SetLayout(m_textTopOffset, value); }
    bool IconVisible() const { return m_iconVisible; }
    void SetIconVisible(bool value) { SetLayout(m_iconVisible, value); }
    TAlignment IconAlign() const { return m_iconAlign; }
    void SetIconAlign(TAlignment value) { SetIconLayout(m_iconAlign, value); }
    TVerticalAlignment IconAlignY() const { return m_iconAlignY; }
    void SetIconAlignY(TVerticalAlignment value) { SetIconLayout(m_iconAlignY, value); }
    TCursor IconCursor() const { return m_iconCursor; }
    void SetIconCursor(int value) { m_iconCursor = TCursor(value); }
    bool IconLockBySelected() const { return m_iconLockBySelected; }
    void SetIconLockBySelected(bool value) { m_iconLockBySelected = value; }
    bool IconFullClick() const { return m_iconFullClick; }
    void SetIconFullClick(bool value) { m_iconFullClick = value; }
    bool ShowCheckBox() const { return m_showCheckBox; }
    void SetShowCheckBox(bool value) { SetLayout(m_showCheckBox, value); }
    bool Checked() const { return m_checkState == cbChecked; }
    void SetChecked(bool value) { SetCheckState(value ? cbChecked : cbUnchecked); }
    TCheckBoxState CheckState() const { return m_checkState; }
    void SetCheckState(TCheckBoxState value);
    TCursor CheckBoxCursor() const { return m_checkBoxCursor; }
    void SetCheckBoxCursor(int value) { m_checkBoxCursor = TCursor(value); }
    TPicture* CheckBoxNormalImage() const { return m_checkBoxNormalImage; }
    void SetCheckBoxNormalImage(TPicture* value) { m_checkBoxNormalImage->Assign(value); }
    TPicture* CheckBoxCheckedImage() const { return m_checkBoxCheckedImage; }
    void SetCheckBoxCheckedImage(TPicture* value) { m_checkBoxCheckedImage->Assign(value); }
    TPicture* CheckBoxGrayedImage() const { return m_checkBoxGrayedImage; }
    void SetCheckBoxGrayedImage(TPicture* value) { m_checkBoxGrayedImage->Assign(value); }
    TPicture* CheckBoxCheckedGrayedImage() const { return m_checkBoxCheckedGrayedImage; }
    void SetCheckBoxCheckedGrayedImage(TPicture* value) { m_checkBoxCheckedGrayedImage->Assign(value); }
    bool CheckBoxFullClick() const { return m_checkBoxFullClick; }
    void SetCheckBoxFullClick(bool value) { SetCheckBoxLook(m_checkBoxFullClick, value); }
    TAlignment CheckBoxAlignX() const { return m_checkBoxAlignX; }
    void SetCheckBoxAlignX(TAlignment value) { SetCheckBoxLook(m_checkBoxAlignX, value); }
    TVerticalAlignment CheckBoxAlignY() const { return m_checkBoxAlignY; }
    void SetCheckBoxAlignY(TVerticalAlignment value) { SetCheckBoxLook(m_checkBoxAlignY, value); }
    int CheckBoxOffset() const { return m_checkBoxOffset; }
    void SetCheckBoxOffset(int value) { SetCheckBoxLook(m_checkBoxOffset, value); }
    int CheckBoxOffsetY() const { return m_checkBoxOffsetY; }
    void SetCheckBoxOffsetY(int value) { SetCheckBoxLook(m_checkBoxOffsetY, value); }
    QString SubCaption() const { return m_subCaption; }
    void SetSubCaption(const QString& value) { SetRepaint(m_subCaption, value); }
    int SubCaptionOffset() const { return m_subCaptionOffset; }
    void SetSubCaptionOffset(int value) { SetRepaint(m_subCaptionOffset, value); }
    QFont SubCaptionFont() const { return m_subCaptionFont; }
    void SetSubCaptionFont(const QFont& value);
    QString SubCaptionData() const { return m_subCaptionData; }
    void SetSubCaptionData(const QString& value) { SetRepaint(m_subCaptionData, value); }
    QFont SubCaptionDataFont() const { return m_subCaptionDataFont; }
    void SetSubCaptionDataFont(const QFont& value);
    bool WordWrap() const { return m_wordWrap; }
    void SetWordWrap(bool value) { SetLayout(m_wordWrap, value); }
    TAlignment TextWarpAlign() const { return m_textWarpAlign; }
    void SetTextWarpAlign(TAlignment value) { SetLayout(m_textWarpAlign, value); }

    void SetOnShowHint(TShowHintEvent handler) { m_onShowHint = std::move(handler); }
    const TShowHintEvent& OnShowHint() const { return m_onShowHint; }

    // The control's cursor, by the framework's cursor number (crDefault: the parent's).
    TCursor Cursor() const { return m_cursor; }
    void SetCursor(TCursor value);

    // Unpublished state. Owners select the button with SetButtonState(Selected).
    TImageButtonState ButtonState() const { return m_buttonState; }
    void SetButtonState(TImageButtonState value);
    bool Hover() const { return m_hover; }
    void SetHover(bool value);
    TIconState IconState() const { return m_iconState; }
    void SetIconState(TIconState value);
    quint8 IconStateAtEnter() const { return m_iconStateAtEnter; }
    bool Measuring() const { return m_measuring; }
    TRect TextRect() const { return m_textRect; }
    TPngGraphic& NormalImageCache() { return m_normalImageCache; }
    TPngGraphic& OverImageCache() { return m_overImageCache; }
    TPngGraphic& RangeMask() { return m_rangeMask; }

    // Layout and painting.
    TRect ClientRect() const { return {0, 0, width(), height()}; }
    void SetBounds(int left, int top, int width, int height);
    virtual bool CanAutoSize(int& newWidth, int& newHeight);
    void AdjustSizeByText();
    void StateImageChanged(QObject* sender);
    void OverlayImageChanged(QObject* sender);
    // Draws the button on `canvas`; with Measuring set only lays the caption out.
    void Paint(QPainter& canvas);
    void CalcTextRect(QPainter& canvas, TRect& r, bool applyMargins, unsigned& flags, TPicture*& icon,
                      TRect& t);
    TRect CalcIconRect(int w, int h) const;
    void DrawIcon(QPainter& canvas, TPicture* picture);
    void DrawCheckBox(QPainter& canvas, const TRect& s);
    // Where a check box picture of w x h stands; it is drawn and hit-tested there.
    TRect CheckBoxRect(int w, int h) const;
    // The icon picture of a state in the current set (Up when expanded).
    TPicture* IconPicture(TIconState state) const;

    // Hit tests, in client coordinates.
    bool IconHitTest(int x, int y) const;
    // Whether (x, y) lies on the check box. Unless `testOnly`, a press there (or anywhere off the
    // icon, with CheckBoxFullClick) also toggles the box.
    bool CheckBoxHitClick(int x, int y, bool testOnly);
    // False where ImageRange makes the control transparent to the mouse.
    bool RangeHitTest(int x, int y);
    // Whether the point belongs to the control at all; points that do not reach what lies beneath.
    bool HitTest(const QPoint& p);

signals:
    void OnCheckedChanged(QObject* Sender);
    void OnCaptionChanged(QObject* Sender);
    void OnPaintImage(QObject* Sender);
    void OnPaintEnd(QObject* Sender);
    void OnMouseDown(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    void OnClick(QObject* Sender);
    void OnMouseUp(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    void OnMouseMove(QObject* Sender, Qt::KeyboardModifiers Shift, int X, int Y);
    void OnDblClick(QObject* Sender);
    void OnContextPopup(QObject* Sender, QPoint MousePos, bool* Handled);
    void OnMouseEnter(QObject* Sender);
    void OnMouseExit(QObject* Sender);
    void IconOnClick(QObject* Sender);
    void CheckBoxOnClick(QObject* Sender);
    void OnResize(QObject* Sender);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    virtual void Resize();

    // The framework's mouse handling, fed from the Qt events above. For a left click released
    // inside: MouseDown, Click, MouseUp; a double click gives DblClick and a second MouseDown.
    virtual void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    virtual void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    virtual void MouseMove(Qt::KeyboardModifiers shift, int x, int y);
    virtual void Click();
    virtual void DblClick();
    virtual void MouseEnter();
    virtual void MouseLeave();
    // Decides the tool tip for a help event over the control.
    virtual void HintShow(QHelpEvent* event);
    // A repaint request.
    void Invalidate() { update(); }

private:
    enum IconSet
    {
        Up = 0,
        Dn = 1
    };

    template <typename T> void SetLayout(T& field, const T& value)
    {
        if (field == value)
            return;
        field = value;
        AdjustSizeByText();
        Invalidate();
    }
    template <typename T> void SetIconLayout(T& field, const T& value)
    {
        if (field == value)
            return;
        field = value;
        AdjustSizeByText();
        if (m_iconVisible)
            Invalidate();
    }
    template <typename T> void SetRepaint(T& field, const T& value)
    {
        if (field == value)
            return;
        field = value;
        Invalidate();
    }
    template <typename T> void SetCheckBoxLook(T& field, const T& value)
    {
        if (field == value)
            return;
        field = value;
        if (m_showCheckBox)
            Invalidate();
    }
    TPicture* NewPicture(void (TRdImageButton::*handler)(QObject*));
    bool IsCheckBoxPicture(const QObject* sender) const;
    // Runs Paint against a scratch canvas with Measuring set; sizes to the caption first when asked.
    void MeasurePass(bool sizeToContent);
    // Renders ImageRange into RangeMask when the control's size differs from the mask's.
    void UpdateRangeMask();
    // Moves the pointer in or out of the control, running MouseEnter or MouseLeave on a change.
    void SetPointerInside(bool inside);
    bool EffectiveShowHint() const;
    // What lies beneath the point (client coordinates): a lower sibling or the parent.
    QWidget* WidgetBeneath(const QPoint& p) const;
    void Forward(QWidget* target, QMouseEvent* event);
    // Passes a press (or double click) on to what lies beneath when it does not belong here;
    // true when it was passed on.
    bool PassPressOn(QMouseEvent* event);
    // Passes a mouse event on to the target of the press being passed on, if it is still there.
    void ForwardToTarget(QMouseEvent* event);
    // A pressed button comes up, and an icon pressed with it (IconFullClick) goes back to hover.
    void LiftPress();
    void FollowIconCursor(bool onIcon);
    // Puts back a cursor saved while over the icon or the check box, if one was saved.
    void RestoreCursor(TCursor& saved);

    // Component state.
    bool m_loading = false;
    bool m_designing = false;

    // Input state: a left press that may still become a click (the framework's clicked flag);
    // whether the pointer is over a point that belongs to the control; the last pointer position;
    // a press that was passed on to what lies beneath, with its target, until all buttons are up.
    bool m_clicked = false;
    bool m_pointerInside = false;
    QPoint m_lastMousePos;
    bool m_forwarding = false;
    QPointer<QWidget> m_forwardTarget;

    // Unpublished state.
    TImageButtonState m_buttonState = TImageButtonState::Normal;
    bool m_hover = false;
    TIconState m_iconState = TIconState::Normal;
    quint8 m_iconStateAtEnter = 0;
    bool m_measuring = false;
    TCursor m_savedCheckBoxCursor = -1;
    TCursor m_savedIconCursor = -1;
    TCursor m_cursor = crDefault;
    TRect m_textRect;
    TPngGraphic m_normalImageCache;
    TPngGraphic m_overImageCache;
    TPngGraphic m_rangeMask;

    // Published properties.
    bool m_foundTextEllipsis = false;
    bool m_foundTextWordBreak = false;
    TAlign m_align = TImageButtonDefaults::Align;
    TAnchors m_anchors = TImageButtonDefaults::Anchors;
    bool m_autoSize = TImageButtonDefaults::AutoSize;
    bool m_ellipsisByHeight = TImageButtonDefaults::EllipsisByHeight;
    bool m_autoSizeByText = TImageButtonDefaults::AutoSizeByText;
    bool m_showAccelChar = TImageButtonDefaults::ShowAccelChar;
    bool m_autoShowHint = TImageButtonDefaults::AutoShowHint;
    TColor m_fontDisabledColor = TImageButtonDefaults::FontDisabledColor;
    TColor m_fontHoverColor = TImageButtonDefaults::FontHoverColor;
    TColor m_fontSelectedColor = TImageButtonDefaults::FontSelectedColor;
    TColor m_fontDownColor = TImageButtonDefaults::FontDownColor;
    TColor m_fontColor = TImageButtonDefaults::FontColor;
    QString m_caption;
    TPicture* m_imageRange = nullptr;
    TPicture* m_imageNormal = nullptr;
    TPicture* m_imageDown = nullptr;
    TPicture* m_imageOver = nullptr;
    TPicture* m_imageDisabled = nullptr;
    bool m_expand = TImageButtonDefaults::Expand;
    TPicture* m_expandImage = nullptr;
    TPicture* m_imageSelected = nullptr;
    TDesignRect* m_imageOption = nullptr;
    bool m_parentShowHint = TImageButtonDefaults::ParentShowHint;
    bool m_showHint = TImageButtonDefaults::ShowHint;
    QString m_hint;
    QMenu* m_popupMenu = nullptr;
    TPicture* m_icons[2][5] = {};
    TAlignment m_buttonCaptionAlignment = TImageButtonDefaults::ButtonCaptionAlignment;
    int m_textLeftMargin = TImageButtonDefaults::TextLeftMargin;
    int m_textRightMargin = TImageButtonDefaults::TextRightMargin;
    int m_textTopMargin = TImageButtonDefaults::TextTopMargin;
    int m_textOffset = TImageButtonDefaults::TextOffset;
    int m_iconOffset = TImageButtonDefaults::IconOffset;
    int m_iconOffsetY = TImageButtonDefaults::IconOffsetY;
    int m_textTopOffset = TImageButtonDefaults::TextTopOffset;
    bool m_iconVisible = TImageButtonDefaults::IconVisible;
    TAlignment m_iconAlign = TImageButtonDefaults::IconAlign;
    TVerticalAlignment m_iconAlignY = TImageButtonDefaults::IconAlignY;
    TCursor m_iconCursor = TImageButtonDefaults::IconCursor;
    bool m_iconLockBySelected = TImageButtonDefaults::IconLockBySelected;
    bool m_iconFullClick = TImageButtonDefaults::IconFullClick;
    bool m_showCheckBox = TImageButtonDefaults::ShowCheckBox;
    TCheckBoxState m_checkState = cbUnchecked;
    TCursor m_checkBoxCursor = TImageButtonDefaults::CheckBoxCursor;
    TPicture* m_checkBoxNormalImage = nullptr;
    TPicture* m_checkBoxCheckedImage = nullptr;
    TPicture* m_checkBoxGrayedImage = nullptr;
    TPicture* m_checkBoxCheckedGrayedImage = nullptr;
    bool m_checkBoxFullClick = TImageButtonDefaults::CheckBoxFullClick;
    TAlignment m_checkBoxAlignX = TImageButtonDefaults::CheckBoxAlignX;
    TVerticalAlignment m_checkBoxAlignY = TImageButtonDefaults::CheckBoxAlignY;
    int m_checkBoxOffset = TImageButtonDefaults::CheckBoxOffset;
    int m_checkBoxOffsetY = TImageButtonDefaults::CheckBoxOffsetY;
    QString m_subCaption;
    int m_subCaptionOffset = TImageButtonDefaults::SubCaptionOffset;
    QFont m_subCaptionFont;
    QString m_subCaptionData;
    QFont m_subCaptionDataFont;
    bool m_wordWrap = TImageButtonDefaults::WordWrap;
    TAlignment m_textWarpAlign = TImageButtonDefaults::TextWarpAlign;
    TShowHintEvent m_onShowHint;
};

} // namespace controls
