#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace sw {

// Simple MAPI result codes the mail hand-off reports.
enum TMailResult : int {
    MAIL_SUCCESS = 0,
    MAIL_E_USER_ABORT = 1, // also: no mail program available
    MAIL_E_FAILURE = 2,
    MAIL_E_LOGIN_FAILURE = 3,
    MAIL_E_ATTACHMENT_NOT_FOUND = 11,
    MAIL_E_ATTACHMENT_OPEN_FAILURE = 12,
};

enum class TRecipientClass : int { Originator = 0, To = 1, Cc = 2, Bcc = 3 };

struct TMailRecipient {
    TRecipientClass Class = TRecipientClass::To;
    std::string Address;
    std::optional<std::string> Name;

    bool operator==(const TMailRecipient&) const = default;
};

// The message as it is handed to the mail program.
struct TMailMessage {
    std::string Subject;
    std::string NoteText;
    std::optional<TMailRecipient> Originator;
    std::vector<TMailRecipient> Recipients;
    std::vector<std::string> Attachments; // full paths; the mail program names them after the file
};

// The user's mail program. It shows the message for the user to edit and send.
class TMailProgram {
public:
    virtual ~TMailProgram() = default;
    // A TMailResult code; MAIL_E_USER_ABORT when no mail program is available.
    virtual int SendMail(const TMailMessage& message, bool showDialog) = 0;
};

// Hands the message to xdg-email, started without a shell. xdg-email always opens the composer, so
// the dialog is shown whatever the flag says; it has no sender option, so the originator is left to
// the mail program's own account.
class TXdgEmail : public TMailProgram {
public:
    ~TXdgEmail() override;

    int SendMail(const TMailMessage& message, bool showDialog) override;

    // Some mail programs keep xdg-email running for as long as they are open. Past this wait the
    // message counts as handed over, so the broadcast on the main thread is not held up.
    int WaitMs = 5000;

    // The argument list after the program name.
    static std::vector<std::string> Arguments(const TMailMessage& message);
    // "Name <address>", the name quoted when it holds characters special in a mail address.
    static std::string Mailbox(const TMailRecipient& recipient);

    // Programs that outlived WaitMs and have not ended yet (finished ones are collected first).
    size_t PendingCount();

private:
    void CollectFinished();
    std::vector<pid_t> FPending;
};

// The process's mail program: a TXdgEmail until another is installed (not owned; nullptr restores it).
TMailProgram& MailProgram();
void SetMailProgram(TMailProgram* program);

} // namespace sw
