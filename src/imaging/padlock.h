#pragma once

class QPainter;

namespace quillix::imaging {

// The padlock that stands for an encrypted file wherever one is drawn (the gallery's lock and
// unlock buttons and placeholder tiles, the viewer's lock screen): closed, or open. It is drawn on
// a 32 × 32 grid, which the caller scales and places with the painter's transform.
void DrawPadlock(QPainter& painter, bool open);

}  // namespace quillix::imaging
