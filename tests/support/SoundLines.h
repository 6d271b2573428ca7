#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

// The game's sound lines, caught while it lives. The sound thread writes them while the test
// reads, hence the lock.
class SoundLines {
public:
    SoundLines() {
        const QMutexLocker lock(&s_mutex);
        s_lines.clear();
        m_previous = qInstallMessageHandler(&SoundLines::caught);
    }
    ~SoundLines() { qInstallMessageHandler(m_previous); }
    QStringList taken() const {
        const QMutexLocker lock(&s_mutex);
        return s_lines;
    }

private:
    static void caught(QtMsgType, const QMessageLogContext& context, const QString& text) {
        if (QLatin1String(context.category) != QLatin1String("warukyara.sound"))
            return;
        const QMutexLocker lock(&s_mutex);
        s_lines.append(text);
    }
    QtMessageHandler m_previous;
    static inline QMutex s_mutex;
    static inline QStringList s_lines;
};
