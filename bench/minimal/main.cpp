// The floor the game's start-up and memory are measured against: a plain Qt Widgets window
// with what the game's window has at its simplest (a title, a menu bar with one menu of two
// entries, the same background picture) and nothing else.
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

namespace {

class Background : public QWidget {
public:
    Background() : m_picture(QStringLiteral(":/minimal/background.bmp")) {}
    QSize sizeHint() const override { return {558, 464}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.drawPixmap(0, 0, m_picture);
    }

private:
    QPixmap m_picture;
};

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Form1"));
    QMenu* menu = window.menuBar()->addMenu(QStringLiteral("ゲーム"));
    menu->addAction(QStringLiteral("はじまり"));
    menu->addAction(QStringLiteral("おわり"), &app, &QApplication::quit);
    window.setCentralWidget(new Background);
    window.resize(window.sizeHint());
    window.show();
    return QApplication::exec();
}
