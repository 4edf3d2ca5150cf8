#include "mail/MailProgram.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace sw {

namespace {

TMailProgram* gMailProgram = nullptr;

// xdg-email's exit statuses.
constexpr int kXdgSyntaxError = 1;
constexpr int kXdgFileMissing = 2;
constexpr int kXdgToolNotFound = 3;
constexpr int kXdgNoPermission = 5;

class TSpawnActions {
public:
    TSpawnActions() { ::posix_spawn_file_actions_init(&FActions); }
    ~TSpawnActions() { ::posix_spawn_file_actions_destroy(&FActions); }
    TSpawnActions(const TSpawnActions&) = delete;
    TSpawnActions& operator=(const TSpawnActions&) = delete;
    posix_spawn_file_actions_t* Get() { return &FActions; }

private:
    posix_spawn_file_actions_t FActions;
};

class TSpawnAttributes {
public:
    TSpawnAttributes() { ::posix_spawnattr_init(&FAttributes); }
    ~TSpawnAttributes() { ::posix_spawnattr_destroy(&FAttributes); }
    TSpawnAttributes(const TSpawnAttributes&) = delete;
    TSpawnAttributes& operator=(const TSpawnAttributes&) = delete;
    posix_spawnattr_t* Get() { return &FAttributes; }

private:
    posix_spawnattr_t FAttributes;
};

int ResultOfStatus(int status) {
    if (!WIFEXITED(status)) {
        return MAIL_E_FAILURE;
    }
    switch (WEXITSTATUS(status)) {
    case 0:
        return MAIL_SUCCESS;
    case kXdgToolNotFound:
        return MAIL_E_USER_ABORT;
    case kXdgFileMissing:
        return MAIL_E_ATTACHMENT_NOT_FOUND;
    case kXdgNoPermission:
        return MAIL_E_ATTACHMENT_OPEN_FAILURE;
    case kXdgSyntaxError:
    default:
        return MAIL_E_FAILURE;
    }
}

bool NeedsQuotedName(const std::string& name) {
    for (char c : name) {
        if (std::string_view("()<>[]:;@\\,.\"").find(c) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

} // namespace

TXdgEmail::~TXdgEmail() {
    // Programs still running belong to the user now; they are not waited for.
    CollectFinished();
}

std::string TXdgEmail::Mailbox(const TMailRecipient& recipient) {
    if (!recipient.Name || recipient.Name->empty()) {
        return recipient.Address;
    }
    std::string name = *recipient.Name;
    if (NeedsQuotedName(name)) {
        std::string quoted = "\"";
        for (char c : name) {
            if (c == '"' || c == '\\') {
                quoted += '\\';
            }
            quoted += c;
        }
        name = quoted + "\"";
    }
    return name + " <" + recipient.Address + ">";
}

std::vector<std::string> TXdgEmail::Arguments(const TMailMessage& message) {
    std::vector<std::string> args{"--utf8"};
    if (!message.Subject.empty()) {
        args.insert(args.end(), {"--subject", message.Subject});
    }
    if (!message.NoteText.empty()) {
        args.insert(args.end(), {"--body", message.NoteText});
    }
    for (const TMailRecipient& recipient : message.Recipients) {
        if (recipient.Class == TRecipientClass::Cc) {
            args.insert(args.end(), {"--cc", Mailbox(recipient)});
        } else if (recipient.Class == TRecipientClass::Bcc) {
            args.insert(args.end(), {"--bcc", Mailbox(recipient)});
        }
    }
    for (const std::string& path : message.Attachments) {
        args.insert(args.end(), {"--attach", path});
    }
    for (const TMailRecipient& recipient : message.Recipients) {
        if (recipient.Class == TRecipientClass::To) {
            args.push_back(Mailbox(recipient));
        }
    }
    return args;
}

int TXdgEmail::SendMail(const TMailMessage& message, bool) {
    CollectFinished();
    std::vector<std::string> args = Arguments(message);
    args.insert(args.begin(), "xdg-email");
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    // The mail program must not inherit the servers' sockets, or it would hold their ports after we close.
    TSpawnActions actions;
    ::posix_spawn_file_actions_addopen(actions.Get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(actions.Get(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(actions.Get(), STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addclosefrom_np(actions.Get(), STDERR_FILENO + 1);
    TSpawnAttributes attributes;
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    ::posix_spawnattr_setsigmask(attributes.Get(), &none);
    ::posix_spawnattr_setsigdefault(attributes.Get(), &all);
    ::posix_spawnattr_setflags(attributes.Get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int spawned =
        ::posix_spawnp(&pid, "xdg-email", actions.Get(), attributes.Get(), argv.data(), environ);
    if (spawned == ENOENT || spawned == EACCES || spawned == ENOTDIR) {
        return MAIL_E_USER_ABORT;
    }
    if (spawned != 0) {
        return MAIL_E_FAILURE;
    }

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(WaitMs);
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return ResultOfStatus(status);
        }
        if (done < 0 && errno != EINTR) {
            return MAIL_E_FAILURE;
        }
        if (Clock::now() >= deadline) {
            FPending.push_back(pid);
            return MAIL_SUCCESS;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
}

void TXdgEmail::CollectFinished() {
    std::erase_if(FPending, [](pid_t pid) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        return done == pid || (done < 0 && errno == ECHILD);
    });
}

size_t TXdgEmail::PendingCount() {
    CollectFinished();
    return FPending.size();
}

TMailProgram& MailProgram() {
    static TXdgEmail xdgEmail;
    return gMailProgram ? *gMailProgram : xdgEmail;
}

void SetMailProgram(TMailProgram* program) {
    gMailProgram = program;
}

} // namespace sw
