#pragma once

#include <QRect>

#include <array>

namespace kavlento::ui {

// Where a control of the main window sits, as the window was designed: in
// twips of its parent's client area, one pixel being 15 of them. The names are
// the designer's, kept as the controls' object names.
struct DesignedPlace {
    const char* name;
    int left, top, width, height;
};

extern const std::array<DesignedPlace, 15> kMainWindowLayout;

// The designed geometry of control `name` in pixels.
QRect designedGeometry(const char* name);

} // namespace kavlento::ui
