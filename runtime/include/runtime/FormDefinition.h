#pragma once

#include <cstdint>
#include <optional>
#include <span>

// What a form is made of, as plain data: the runtime builds a window from one of these.
// Texts are UTF-8, positions and sizes twips, colours 0x00BBGGRR.
namespace runtime {

enum class ControlKind { Multimedia, TextBox, Timer, Image, Label, MenuEntry };

using Colour = std::uint32_t;

// The character set a Japanese form's fonts carry; the runtime adds Japanese stand-in faces for it.
inline constexpr int kShiftJisCharset = 128;

struct FontDefinition {
    const char* face;
    double points;
    int weight;
    int charset;
};

struct ControlDefinition {
    ControlKind kind;
    const char* name;
    int index = -1; // element of a control array, or -1 for a single control
    float left = 0;
    float top = 0;
    float width = 0;
    float height = 0;
    const char* caption = "";
    std::optional<Colour> foreColour = {};
    std::optional<Colour> backColour = {};
    const FontDefinition* font = nullptr;
    const char* picture = nullptr; // resource path
    bool stretch = false;
    int interval = 0;  // timers, milliseconds of the form's clock
    int tabIndex = -1; // place in the keyboard's tab order, for controls that take the focus
    // What assistive technology calls the control; null for a label, whose text speaks for it.
    const char* accessibleName = nullptr;
};

struct MenuEntryDefinition {
    const char* name;
    const char* caption;
};

struct MenuDefinition {
    const char* name;
    const char* caption;
    std::span<const MenuEntryDefinition> entries;
};

struct FormDefinition {
    const char* name;
    const char* caption;
    float clientWidth;
    float clientHeight;
    const char* picture; // resource path of the background, drawn at natural size
    std::span<const MenuDefinition> menus;
    std::span<const ControlDefinition> controls; // creation order, topmost first
    const FontDefinition* font = nullptr;        // the form's own, in which its menus are drawn
};

} // namespace runtime
