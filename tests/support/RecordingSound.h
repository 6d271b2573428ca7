#pragma once

#include <runtime/Controls.h>
#include <runtime/RuntimeError.h>

#include <QStringList>

#include <memory>

// Stands behind MMControl1 in tests: records every property write as "DeviceType=..." or
// "Command=...", into a list the test keeps, and can be told to fail at one command.
class RecordingSound : public runtime::MultimediaDevice {
public:
    RecordingSound(std::shared_ptr<QStringList> log, QString failAt = {})
        : m_log(std::move(log)), m_failAt(std::move(failAt)) {}

    void setDeviceType(const QString& deviceType) override {
        m_log->append(QStringLiteral("DeviceType=") + deviceType);
    }
    void setCommand(const QString& command) override {
        m_log->append(QStringLiteral("Command=") + command);
        if (command == m_failAt)
            throw runtime::RuntimeError(runtime::ErrorNumber::InvalidPropertyValue,
                                        QStringLiteral("device refused ") + command);
    }

private:
    std::shared_ptr<QStringList> m_log;
    QString m_failAt;
};
