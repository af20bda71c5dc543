#pragma once
// The window framework's small value types that the skinnable controls publish: alignments,
// check-box states, docking, colours with their system-colour encoding, cursors.

#include "platform/WinTypes.h"

#include <QColor>
#include <QObject>

namespace controls {
Q_NAMESPACE

enum TAlignment : quint8
{
    taLeftJustify,
    taRightJustify,
    taCenter
};
Q_ENUM_NS(TAlignment)

enum TVerticalAlignment : quint8
{
    taAlignTop,
    taAlignBottom,
    taVerticalCenter
};
Q_ENUM_NS(TVerticalAlignment)

enum TCheckBoxState : quint8
{
    cbUnchecked,
    cbChecked,
    cbGrayed
};
Q_ENUM_NS(TCheckBoxState)

enum TAlign : quint8
{
    alNone,
    alTop,
    alBottom,
    alLeft,
    alRight,
    alClient,
    alCustom
};
Q_ENUM_NS(TAlign)

enum TAnchorKind : quint8
{
    akLeft = 1,
    akTop = 2,
    akRight = 4,
    akBottom = 8
};
Q_DECLARE_FLAGS(TAnchors, TAnchorKind)
Q_FLAG_NS(TAnchors)

// How the edges and the centre of a nine-slice picture are fitted (see TDesignRect).
enum TSuperStretchMode : quint8
{
    sdmDefault,
    sdmStretch,
    sdmFill,
    sdmFrame
};
Q_ENUM_NS(TSuperStretchMode)

// Colours as the framework stores them: 0x00BBGGRR, or a system colour index with the high byte
// 0xFF, or one of the special values below.
using TColor = qint32;
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;
constexpr TColor clSystemColor = TColor(0xFF000000);
constexpr TColor clWindowText = clSystemColor | platform::COLOR_WINDOWTEXT;
constexpr TColor clBtnFace = clSystemColor | platform::COLOR_BTNFACE;
constexpr TColor cl3DDkShadow = clSystemColor | platform::COLOR_3DDKSHADOW;

// The RGB value of a colour, system colours resolved to the standard Windows scheme.
TColor ColorToRGB(TColor color);
QColor ToQColor(TColor color);
TColor FromQColor(const QColor& color);

// Cursor identifiers as the framework numbers them.
using TCursor = qint16;
constexpr TCursor crDefault = 0;
constexpr TCursor crHandPoint = -21;

} // namespace controls

Q_DECLARE_OPERATORS_FOR_FLAGS(controls::TAnchors)
