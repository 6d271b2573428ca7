#pragma once

#include "Controls.h"
#include "Dispatcher.h"
#include "FormDefinition.h"

#include <QPoint>
#include <QString>
#include <QStringView>

#include <memory>
#include <optional>
#include <vector>

class QImage;
class QWidget;

namespace runtime {

class FormWindow;

struct FormOptions {
    // Tests run without the clock and fire ticks themselves.
    bool realTimers = true;
};

// The one window, built from a definition: its controls by name, its Load event, its end.
class Form {
public:
    explicit Form(const FormDefinition& definition, FormOptions options = {});
    ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    QString caption() const;
    // The client area's size in twips.
    float scaleWidth() const;
    float scaleHeight() const;

    // Controls by name; a missing name, a wrong kind or an index outside the control array
    // is a run-time error.
    Image& image(QStringView name);
    Image& image(QStringView arrayName, int index);
    Label& label(QStringView name);
    TextBox& textBox(QStringView name);
    Timer& timer(QStringView name);
    MenuEntry& menuEntry(QStringView name);
    MultimediaControl& multimedia(QStringView name);

    void onLoad(Dispatcher::Handler handler) { m_onLoad = std::move(handler); }
    // Raises Load: the form runtime does this once, before the window is first shown.
    void load();
    void show();

    Dispatcher& dispatcher() { return m_dispatcher; }

    // The control a click at this client-area pixel reaches: window-backed controls first,
    // then the others in stacking order, skipping transparent picture pixels.
    Control* controlAt(QPoint pixel) const;
    // The player pressed and released the mouse at these client-area pixels.
    void mousePress(QPoint pixel);
    void mouseRelease(QPoint pixel);

    QWidget* window() const;
    QWidget* clientArea() const;
    // The client area as the player sees it.
    QImage grabClientArea() const;

private:
    // A single control by name, or the element `index` of a control array.
    template <typename T> T& find(QStringView name, std::optional<int> index = std::nullopt);

    Dispatcher m_dispatcher;
    std::unique_ptr<FormWindow> m_window;
    std::vector<std::unique_ptr<Control>> m_controls; // creation order: topmost first
    Dispatcher::Handler m_onLoad;
    Control* m_pressed = nullptr;
    bool m_loaded = false;
};

} // namespace runtime
