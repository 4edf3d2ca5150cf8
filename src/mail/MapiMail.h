#pragma once

#include "mail/MailProgram.h"

#include <string>
#include <vector>

namespace sw {

// One message for the user's mail program, built from plain strings and lists; made for one send.
class TMapiMail {
public:
    std::string Originator;
    // Entries are "address" or "address,display name" (the name is everything after the first comma).
    std::vector<std::string> ToList;
    std::vector<std::string> CcList;
    std::vector<std::string> BccList;
    std::vector<std::string> Attachments;
    std::string Subject;
    // The message text is each line followed by CR LF.
    std::vector<std::string> Body;
    int Result = MAIL_SUCCESS;

    // Hands the message to MailProgram() and returns Result.
    int Send(bool showDialog);

    // The message as the mail program receives it, with the dialog flag the send uses.
    TMailMessage Message() const;
    bool DialogShown(bool showDialog) const;

    static TMailRecipient Recipient(const std::string& entry, TRecipientClass recipientClass);
};

int SendMail(const std::string& originator, const std::vector<std::string>& toList,
             const std::vector<std::string>& ccList, bool showDialog,
             const std::vector<std::string>& attachments, const std::string& body, const std::string& subject,
             const std::vector<std::string>& bccList);

// The lists as comma-separated text: an item may be enclosed in double quotes (a doubled quote inside
// stands for one) and then keeps its commas; spaces inside an item belong to it, spaces around it do not.
int SendMailText(const std::string& originator, const std::string& toList, const std::string& ccList,
                 bool showDialog, const std::string& attachments, const std::string& body,
                 const std::string& subject, const std::string& bccList);

// No originator, no recipients, no attachments, the dialog shown.
int SendNote(const std::string& subject, const std::string& body);

// The items of a comma-separated list as SendMailText reads it; empty items are dropped.
std::vector<std::string> SplitMailList(const std::string& text);

} // namespace sw
