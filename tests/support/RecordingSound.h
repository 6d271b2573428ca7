#pragma once

#include <runtime/Controls.h>
#include <runtime/RuntimeError.h>

#include <QStringList>

#include <functional>
#include <memory>

// Stands behind MMControl1 in tests: records every property write as "DeviceType=..." or
// "Command=...", into a list the test keeps, and can be told to fail at one command.
class RecordingSound : public runtime::MultimediaDevice {
public:
    using Watcher = std::function<void(const QString& write)>;

    RecordingSound(std::shared_ptr<QStringList> log, QString failAt = {}, Watcher watch = {})
        : m_log(std::move(log)), m_failAt(std::move(failAt)), m_watch(std::move(watch)) {}

    void setDeviceType(const QString& deviceType) override {
        record(QStringLiteral("DeviceType=") + deviceType);
    }
    void setCommand(const QString& command) override {
        record(QStringLiteral("Command=") + command);
        if (command == m_failAt)
            throw runtime::RuntimeError(runtime::ErrorNumber::InvalidPropertyValue,
                                        QStringLiteral("device refused ") + command);
    }

private:
    void record(const QString& write) {
        m_log->append(write);
        if (m_watch)
            m_watch(write);
    }

    std::shared_ptr<QStringList> m_log;
    QString m_failAt;
    Watcher m_watch;
};
