#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>

namespace sw {

// One windowed program per settings file and user: the first start holds a lock and listens on a
// local socket; a later start finds the lock taken, asks the first one to bring its window forward
// and ends, instead of fighting over the same ports. Programs on other settings files run side by
// side.
class TSingleInstance : public QObject {
    Q_OBJECT
public:
    explicit TSingleInstance(const std::string& iniFile);
    ~TSingleInstance() override;

    // The socket's name, from the user and the settings file's absolute path.
    static QString ServerName(const std::string& iniFile);

    // True for the first program: it holds the lock and listens from now on.
    bool Acquire();
    // From a later start: asks the first program to come forward; false when it did not answer.
    bool ActivateFirst(int timeoutMs = 5000);

    // Run in the first program whenever a later start asked for it.
    std::function<void()> OnActivate;

private:
    QString FName;
    std::unique_ptr<QLockFile> FLock;
    std::unique_ptr<QLocalServer> FServer;
};

} // namespace sw
