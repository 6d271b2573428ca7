#pragma once

class QLineEdit;

namespace runtime {

// On X11, gives the line edit a paste that never waits for the selection's owner: Ctrl+V,
// Shift+Insert, the middle button and the context menu's Paste ask for the text on a
// connection of the runtime's own and insert it when it comes, or after 2 s say in one line
// that it did not. Qt's X11 clipboard waits for the owner on the GUI thread, so a hung owner
// froze the whole window. Elsewhere (Wayland, offscreen) the line edit keeps Qt's own paste.
void pasteWithoutWaiting(QLineEdit* edit);

} // namespace runtime
