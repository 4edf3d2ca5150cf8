#include "common/ProgramRunner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <csignal>
#include <cstdlib>

namespace sw::test {

std::string BuiltProgram(const std::string& relativePath) {
    return std::string(SW_BINARY_DIR) + "/" + relativePath;
}

TProgramRunner::TProgramRunner(const std::string& program, const std::vector<std::string>& arguments)
    : FProcess(std::make_unique<QProcess>()) {
    QStringList args;
    for (const std::string& argument : arguments) {
        args << QString::fromStdString(argument);
    }
    FProcess->start(QString::fromStdString(program), args);
    FProcess->waitForStarted(10000);
}

TProgramRunner::~TProgramRunner() {
    if (FProcess->state() != QProcess::NotRunning) {
        FProcess->kill();
        FProcess->waitForFinished(5000);
    }
}

void TProgramRunner::Collect() {
    // Pulls what the pipes hold now; a program whose standard error nobody drains blocks on its next write.
    while (FProcess->state() == QProcess::Running && FProcess->waitForReadyRead(0)) {
    }
    FErrors += FProcess->readAllStandardError().toStdString();
    FOutput += FProcess->readAllStandardOutput().toStdString();
}

bool TProgramRunner::WaitForError(const std::string& text, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        Collect();
        if (FErrors.find(text) != std::string::npos) {
            return true;
        }
        if (FProcess->state() == QProcess::NotRunning || timer.elapsed() > timeoutMs) {
            return false;
        }
        FProcess->waitForReadyRead(50);
    }
}

int TProgramRunner::WaitForExit(int timeoutMs) {
    if (!FProcess->waitForFinished(timeoutMs) && FProcess->state() != QProcess::NotRunning) {
        Collect();
        return -1;
    }
    Collect();
    if (FProcess->exitStatus() != QProcess::NormalExit) {
        return -1;
    }
    return FProcess->exitCode();
}

void TProgramRunner::Signal(int signal) {
    // A program that has ended has no id any more, and kill(0) would signal this test's own process
    // group: the test runner and the build that started it.
    const pid_t pid = static_cast<pid_t>(FProcess->processId());
    if (pid > 0) {
        ::kill(pid, signal);
    }
}

std::string TProgramRunner::Errors() {
    Collect();
    return FErrors;
}

std::string TProgramRunner::Output() {
    Collect();
    return FOutput;
}

qint64 TProgramRunner::ProcessId() const {
    return FProcess->processId();
}

int RunProgram(const std::string& program, const std::vector<std::string>& arguments, std::string* errors,
               std::string* output, int timeoutMs) {
    TProgramRunner runner(program, arguments);
    int code = runner.WaitForExit(timeoutMs);
    if (errors) {
        *errors = runner.Errors();
    }
    if (output) {
        *output = runner.Output();
    }
    return code;
}

} // namespace sw::test
