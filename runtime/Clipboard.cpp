#include "Clipboard.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMenu>
#include <QMouseEvent>
#include <QSocketNotifier>
#include <QTimer>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace runtime {

Q_LOGGING_CATEGORY(lcClipboard, "warukyara.clipboard")

namespace {

constexpr int kAnswerWaitMs = 2000;

enum class Selection { Clipboard, Primary };

// Asks the X server for the selections as text and inserts what comes into the line edit. Every
// wait is the event loop's: an owner's answer is read when the connection's socket has data.
class SelectionReader : public QObject {
public:
    explicit SelectionReader(QLineEdit* edit) : m_edit(edit) {
        for (Request& request : m_requests) {
            request.deadline.setSingleShot(true);
            request.deadline.setInterval(kAnswerWaitMs);
            QObject::connect(&request.deadline, &QTimer::timeout, this,
                             [this, &request] { giveUp(request); });
        }
    }

    ~SelectionReader() override {
        if (m_connection)
            xcb_disconnect(m_connection);
    }

    // False when no connection of our own can be had; the caller then leaves the paste to Qt.
    bool request(Selection selection) {
        if (!m_connection && !connectToServer())
            return false;
        Request& request = m_requests[int(selection)];
        // While its owner has not answered, another press for the same selection would only
        // wait behind the first, and a held key would fill the log with lines.
        if (request.window != XCB_NONE)
            return true;
        request.selection =
            selection == Selection::Clipboard ? m_clipboardAtom : xcb_atom_t(XCB_ATOM_PRIMARY);
        request.target = m_utf8Atom;
        request.incremental = false;
        // A window per request: an answer that comes after we gave up finds it gone.
        request.window = xcb_generate_id(m_connection);
        const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, request.window, m_root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                          &events);
        convert(request);
        return true;
    }

private:
    struct Request {
        xcb_window_t window = XCB_NONE; // while the owner is asked, the window it answers to
        xcb_atom_t selection = XCB_NONE;
        xcb_atom_t target = XCB_NONE;
        QByteArray bytes;
        bool incremental = false; // the owner sends the text in pieces
        QTimer deadline;
    };

    bool connectToServer() {
        int screenNumber = 0;
        xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(connection)) {
            xcb_disconnect(connection);
            return false;
        }
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
        for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
            xcb_screen_next(&screens);
        if (screens.rem == 0) {
            xcb_disconnect(connection);
            return false;
        }
        m_connection = connection;
        m_root = screens.data->root;
        // These round trips wait only for the X server, never for another client.
        m_clipboardAtom = atom("CLIPBOARD");
        m_utf8Atom = atom("UTF8_STRING");
        m_incrAtom = atom("INCR");
        m_property = atom("WARUKYARA_PASTE");
        m_notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(m_connection),
                                                       QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, this,
                         [this] { readEvents(); });
        return true;
    }

    xcb_atom_t atom(const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, uint16_t(std::strlen(name)), name),
            nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_NONE);
        std::free(reply);
        return atom;
    }

    void convert(Request& request) {
        xcb_convert_selection(m_connection, request.window, request.selection, request.target,
                              m_property, XCB_CURRENT_TIME);
        xcb_flush(m_connection);
        request.deadline.start();
    }

    Request* requestOf(xcb_window_t window) {
        for (Request& request : m_requests)
            if (request.window != XCB_NONE && request.window == window)
                return &request;
        return nullptr;
    }

    void readEvents() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
            handle(event);
            std::free(event);
        }
        if (xcb_connection_has_error(m_connection)) {
            // The server went away; Qt's own connection will end the program shortly.
            m_notifier.reset();
            xcb_disconnect(m_connection);
            m_connection = nullptr;
            for (Request& request : m_requests) {
                request.deadline.stop();
                request.window = XCB_NONE;
            }
        }
    }

    void handle(const xcb_generic_event_t* event) {
        switch (event->response_type & 0x7F) {
        case XCB_SELECTION_NOTIFY: {
            const auto* notify = reinterpret_cast<const xcb_selection_notify_event_t*>(event);
            Request* request = requestOf(notify->requestor);
            if (!request)
                return;
            if (notify->property != XCB_NONE)
                readProperty(*request);
            else if (request->target == m_utf8Atom) {
                // An owner from before UTF-8 may still offer Latin-1.
                request->target = XCB_ATOM_STRING;
                convert(*request);
            } else
                finish(*request); // nobody holds text there: nothing to paste
            return;
        }
        case XCB_PROPERTY_NOTIFY: {
            const auto* change = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            Request* request = requestOf(change->window);
            if (request && request->incremental && change->atom == m_property &&
                change->state == XCB_PROPERTY_NEW_VALUE)
                readProperty(*request);
            return;
        }
        default:
            return;
        }
    }

    // At most this many bytes are kept: four per character cover any UTF-8 text that long.
    qsizetype byteLimit() const { return qsizetype(m_edit->maxLength()) * 4; }

    void readProperty(Request& request) {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            m_connection,
            xcb_get_property(m_connection, 0, request.window, m_property, XCB_GET_PROPERTY_TYPE_ANY,
                             0, uint32_t(byteLimit() / 4)),
            nullptr);
        // Deleting the property is what tells an owner sending in pieces to send the next.
        xcb_delete_property(m_connection, request.window, m_property);
        xcb_flush(m_connection);
        if (!reply) {
            finish(request);
            return;
        }
        const auto length = qsizetype(xcb_get_property_value_length(reply));
        const bool text = reply->format == 8;
        if (reply->type == m_incrAtom) {
            request.incremental = true;
            request.deadline.start();
        } else if (!request.incremental) {
            if (text)
                keep(request, xcb_get_property_value(reply), length);
            finish(request);
        } else if (length == 0) {
            finish(request);
        } else {
            // The rest of a long transfer is read and dropped, so its owner is not left waiting.
            if (text)
                keep(request, xcb_get_property_value(reply), length);
            request.deadline.start();
        }
        std::free(reply);
    }

    void keep(Request& request, const void* data, qsizetype length) {
        const qsizetype room = byteLimit() - request.bytes.size();
        if (room > 0)
            request.bytes.append(static_cast<const char*>(data), qMin(length, room));
    }

    void finish(Request& request) {
        const QString text = request.target == m_utf8Atom ? QString::fromUtf8(request.bytes)
                                                          : QString::fromLatin1(request.bytes);
        endRequest(request);
        // A paste lands where the caret is now, replacing what is selected now.
        if (!text.isEmpty() && !m_edit->isReadOnly())
            m_edit->insert(text.left(m_edit->maxLength()));
    }

    void giveUp(Request& request) {
        qCWarning(lcClipboard, "the owner of the %s did not answer within %d s; nothing was pasted",
                  request.selection == XCB_ATOM_PRIMARY ? "primary selection" : "clipboard",
                  kAnswerWaitMs / 1000);
        endRequest(request);
    }

    void endRequest(Request& request) {
        request.deadline.stop();
        request.bytes.clear();
        xcb_destroy_window(m_connection, request.window);
        xcb_flush(m_connection);
        request.window = XCB_NONE;
    }

    QLineEdit* m_edit;
    xcb_connection_t* m_connection = nullptr;
    std::unique_ptr<QSocketNotifier> m_notifier;
    xcb_window_t m_root = XCB_NONE;
    xcb_atom_t m_clipboardAtom = XCB_NONE;
    xcb_atom_t m_utf8Atom = XCB_NONE;
    xcb_atom_t m_incrAtom = XCB_NONE;
    xcb_atom_t m_property = XCB_NONE;
    Request m_requests[2]; // one for each Selection
};

QString withShortcut(const char* text, QKeySequence::StandardKey key) {
    return QCoreApplication::translate("QLineEdit", text) + u'\t' +
           QKeySequence(key).toString(QKeySequence::NativeText);
}

// Every way a player pastes into the line edit, taken before the line edit sees it.
class PasteFilter : public QObject {
public:
    explicit PasteFilter(QLineEdit* edit) : QObject(edit), m_edit(edit), m_reader(edit) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != m_edit || m_edit->isReadOnly())
            return false;
        switch (event->type()) {
        case QEvent::KeyPress:
            return static_cast<QKeyEvent*>(event)->matches(QKeySequence::Paste) &&
                   m_reader.request(Selection::Clipboard);
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent*>(event)->button() != Qt::MiddleButton)
                return false;
            // As the line edit itself does: the pressed button placed the caret, and the
            // paste goes there rather than over what is selected.
            m_edit->deselect();
            return m_reader.request(Selection::Primary);
        case QEvent::ContextMenu:
            showMenu(static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        default:
            return false;
        }
    }

private:
    // The line edit's own menu, less its look at the clipboard: that look alone waits for the
    // owner, so Paste is offered whenever the box is editable.
    void showMenu(QPoint at) {
        auto* menu = new QMenu(m_edit);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        const bool selected = m_edit->hasSelectedText();
        const bool shown = m_edit->echoMode() == QLineEdit::Normal;
        menu->addAction(withShortcut("&Undo", QKeySequence::Undo), m_edit, &QLineEdit::undo)
            ->setEnabled(m_edit->isUndoAvailable());
        menu->addAction(withShortcut("&Redo", QKeySequence::Redo), m_edit, &QLineEdit::redo)
            ->setEnabled(m_edit->isRedoAvailable());
        menu->addSeparator();
        menu->addAction(withShortcut("Cu&t", QKeySequence::Cut), m_edit, &QLineEdit::cut)
            ->setEnabled(selected && shown);
        menu->addAction(withShortcut("&Copy", QKeySequence::Copy), m_edit, &QLineEdit::copy)
            ->setEnabled(selected && shown);
        QAction* paste = menu->addAction(withShortcut("&Paste", QKeySequence::Paste));
        QObject::connect(paste, &QAction::triggered, this, [this] {
            if (!m_reader.request(Selection::Clipboard))
                m_edit->paste();
        });
        menu->addAction(QCoreApplication::translate("QLineEdit", "Delete"), m_edit,
                        [this] { m_edit->del(); })
            ->setEnabled(selected);
        menu->addSeparator();
        menu->addAction(withShortcut("Select All", QKeySequence::SelectAll), m_edit,
                        &QLineEdit::selectAll)
            ->setEnabled(!m_edit->text().isEmpty());
        menu->popup(at);
    }

    QLineEdit* m_edit;
    SelectionReader m_reader;
};

} // namespace

void pasteWithoutWaiting(QLineEdit* edit) {
    if (QGuiApplication::platformName() != u"xcb")
        return;
    edit->installEventFilter(new PasteFilter(edit));
}

} // namespace runtime
