#pragma once
// The declared defaults of the image button's published properties, in one table: the button's
// member initialisers read them, and a property equal to its default is not stored with the form.

#include "controls/ControlTypes.h"

#include <QString>

namespace controls {

// X(property name, value type, default)
#define SKINTOOL_IMAGE_BUTTON_DEFAULTS(X)                                                                    \
    X(Align, TAlign, alNone)                                                                                 \
    X(Anchors, TAnchors, TAnchors(akLeft) | akTop)                                                           \
    X(AutoSize, bool, false)                                                                                 \
    X(EllipsisByHeight, bool, false)                                                                         \
    X(AutoSizeByText, bool, false)                                                                           \
    X(ShowAccelChar, bool, true)                                                                             \
    X(AutoShowHint, bool, false)                                                                             \
    X(FontDisabledColor, TColor, cl3DDkShadow)                                                               \
    X(FontHoverColor, TColor, clDefault)                                                                     \
    X(FontSelectedColor, TColor, clDefault)                                                                  \
    X(FontDownColor, TColor, clDefault)                                                                      \
    X(FontColor, TColor, clWindowText)                                                                       \
    X(Visible, bool, true)                                                                                   \
    X(Caption, QString, QString())                                                                           \
    X(Expand, bool, false)                                                                                   \
    X(Enabled, bool, true)                                                                                   \
    X(ParentShowHint, bool, true)                                                                            \
    X(ShowHint, bool, false)                                                                                 \
    X(Hint, QString, QString())                                                                              \
    X(ParentFont, bool, true)                                                                                \
    X(ButtonCaptionAlignment, TAlignment, taCenter)                                                          \
    X(TextLeftMargin, int, 0)                                                                                \
    X(TextRightMargin, int, 0)                                                                               \
    X(TextTopMargin, int, 0)                                                                                 \
    X(TextOffset, int, 20)                                                                                   \
    X(IconOffset, int, 10)                                                                                   \
    X(IconOffsetY, int, 0)                                                                                   \
    X(TextTopOffset, int, 0)                                                                                 \
    X(IconVisible, bool, true)                                                                               \
    X(IconAlign, TAlignment, taRightJustify)                                                                 \
    X(IconAlignY, TVerticalAlignment, taVerticalCenter)                                                      \
    X(IconCursor, TCursor, crDefault)                                                                        \
    X(IconLockBySelected, bool, true)                                                                        \
    X(IconFullClick, bool, false)                                                                            \
    X(ShowCheckBox, bool, false)                                                                             \
    X(Checked, bool, false)                                                                                  \
    X(CheckBoxCursor, TCursor, crDefault)                                                                    \
    X(CheckBoxFullClick, bool, true)                                                                         \
    X(CheckBoxAlignX, TAlignment, taLeftJustify)                                                             \
    X(CheckBoxAlignY, TVerticalAlignment, taVerticalCenter)                                                  \
    X(CheckBoxOffset, int, 10)                                                                               \
    X(CheckBoxOffsetY, int, 0)                                                                               \
    X(SubCaption, QString, QString())                                                                        \
    X(SubCaptionOffset, int, 50)                                                                             \
    X(SubCaptionData, QString, QString())                                                                    \
    X(WordWrap, bool, false)                                                                                 \
    X(TextWarpAlign, TAlignment, taLeftJustify)

struct TImageButtonDefaults
{
#define SKINTOOL_DEFAULT_MEMBER(name, type, value) static inline const type name = value;
    SKINTOOL_IMAGE_BUTTON_DEFAULTS(SKINTOOL_DEFAULT_MEMBER)
#undef SKINTOOL_DEFAULT_MEMBER
};

} // namespace controls
