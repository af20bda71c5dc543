#pragma once
// Anchors for absolutely placed controls: a control anchored to the right (or bottom) edge keeps
// its distance to that edge when its parent is resized; anchored to both edges it stretches.

#include <QWidget>

namespace app {

enum Anchor
{
    akLeft = 1,
    akTop = 2,
    akRight = 4,
    akBottom = 8
};

// Records the control's present geometry and its parent's present size as the design state.
void SetAnchors(QWidget* control, int anchors);

} // namespace app
