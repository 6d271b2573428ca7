#pragma once

#include <runtime/Controls.h>
#include <runtime/Dispatcher.h>
#include <runtime/FormDefinition.h>

#include <QString>
#include <QStringView>

#include <memory>
#include <optional>
#include <vector>

namespace runtime {

class FormWindow;
class FrameClock;

// The one window, built from a definition: its controls by name, its Load event, its end.
class Form {
public:
    explicit Form(const FormDefinition& definition);
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

private:
    friend class FormHost;

    // A single control by name, or the element `index` of a control array.
    template <typename T> T& find(QStringView name, std::optional<int> index = std::nullopt);
    Control* controlAt(QPoint pixel);
    void end(int status, const RuntimeError* error);

    Dispatcher m_dispatcher;
    std::unique_ptr<FormWindow> m_window;
    std::unique_ptr<FrameClock> m_clock;
    std::vector<std::unique_ptr<Control>> m_controls;
    // The visual controls from the topmost down: raised in reverse, hit-tested in order.
    std::vector<VisualControl*> m_stacking;
    Dispatcher::Handler m_onLoad;
    Dispatcher::EndHook m_ending;
    QString m_report; // of the run-time error that ended the program, once it has
    Control* m_pressed = nullptr;
    bool m_loaded = false;
};

} // namespace runtime
