#pragma once

#include <QProcess>
#include <memory>
#include <string>
#include <vector>

namespace sw::test {

// Path of a program built by this project, e.g. BuiltProgram("src/app/streamwright").
std::string BuiltProgram(const std::string& relativePath);

// Runs a program of the project with its standard error collected; killed when the object goes away.
class TProgramRunner {
public:
    TProgramRunner(const std::string& program, const std::vector<std::string>& arguments);
    ~TProgramRunner();

    // Waits until standard error holds text (true) or the program ended or timeoutMs passed (false).
    bool WaitForError(const std::string& text, int timeoutMs = 10000);
    // Waits for the end; returns the exit code, or -1 when it did not end in time or crashed.
    int WaitForExit(int timeoutMs = 10000);
    void Signal(int signal);
    std::string Errors();
    std::string Output();
    qint64 ProcessId() const;

private:
    void Collect();
    std::unique_ptr<QProcess> FProcess;
    std::string FErrors;
    std::string FOutput;
};

// Runs a program to its end and returns its exit code, with standard error in errors.
int RunProgram(const std::string& program, const std::vector<std::string>& arguments,
               std::string* errors = nullptr, std::string* output = nullptr, int timeoutMs = 20000);

} // namespace sw::test
