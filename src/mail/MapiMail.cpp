#include "mail/MapiMail.h"

#include "log/CommaText.h"

namespace sw {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string Trimmed(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsSpace(text[begin])) {
        ++begin;
    }
    while (end > begin && IsSpace(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

} // namespace

TMailRecipient TMapiMail::Recipient(const std::string& entry, TRecipientClass recipientClass) {
    TMailRecipient recipient;
    recipient.Class = recipientClass;
    const size_t comma = entry.find(',');
    if (comma == std::string::npos) {
        recipient.Address = entry;
    } else {
        recipient.Address = entry.substr(0, comma);
        recipient.Name = entry.substr(comma + 1);
    }
    return recipient;
}

TMailMessage TMapiMail::Message() const {
    TMailMessage message;
    message.Subject = Subject;
    for (const std::string& line : Body) {
        message.NoteText += line;
        message.NoteText += "\r\n";
    }
    if (!Originator.empty()) {
        message.Originator = Recipient("SMTP:" + Originator, TRecipientClass::Originator);
    }
    auto add = [&](const std::vector<std::string>& list, TRecipientClass recipientClass) {
        for (const std::string& entry : list) {
            message.Recipients.push_back(Recipient(entry, recipientClass));
        }
    };
    add(ToList, TRecipientClass::To);
    add(CcList, TRecipientClass::Cc);
    add(BccList, TRecipientClass::Bcc);
    message.Attachments = Attachments;
    return message;
}

bool TMapiMail::DialogShown(bool showDialog) const {
    // Without a sender or without recipients only the user can complete the message.
    return showDialog || Originator.empty() || (ToList.empty() && CcList.empty() && BccList.empty());
}

int TMapiMail::Send(bool showDialog) {
    Result = MailProgram().SendMail(Message(), DialogShown(showDialog));
    return Result;
}

int SendMail(const std::string& originator, const std::vector<std::string>& toList,
             const std::vector<std::string>& ccList, bool showDialog,
             const std::vector<std::string>& attachments, const std::string& body, const std::string& subject,
             const std::vector<std::string>& bccList) {
    TMapiMail mail;
    mail.Originator = originator;
    mail.ToList = toList;
    mail.CcList = ccList;
    mail.BccList = bccList;
    mail.Attachments = attachments;
    mail.Subject = subject;
    mail.Body = SplitLines(body);
    return mail.Send(showDialog);
}

std::vector<std::string> SplitMailList(const std::string& text) {
    std::vector<std::string> items;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        while (i < n && IsSpace(text[i])) {
            ++i;
        }
        std::string item;
        if (i < n && text[i] == '"') {
            ++i;
            while (i < n) {
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        item += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += text[i++];
            }
            // Text between the closing quote and the next comma still belongs to the item.
            std::string rest;
            while (i < n && text[i] != ',') {
                rest += text[i++];
            }
            while (!rest.empty() && IsSpace(rest.back())) {
                rest.pop_back();
            }
            item += rest;
        } else {
            while (i < n && text[i] != ',') {
                item += text[i++];
            }
            item = Trimmed(item);
        }
        if (!item.empty()) {
            items.push_back(std::move(item));
        }
        if (i < n && text[i] == ',') {
            ++i;
        }
    }
    return items;
}

int SendMailText(const std::string& originator, const std::string& toList, const std::string& ccList,
                 bool showDialog, const std::string& attachments, const std::string& body,
                 const std::string& subject, const std::string& bccList) {
    return SendMail(originator, SplitMailList(toList), SplitMailList(ccList), showDialog,
                    SplitMailList(attachments), body, subject, SplitMailList(bccList));
}

int SendNote(const std::string& subject, const std::string& body) {
    return SendMail({}, {}, {}, true, {}, body, subject, {});
}

} // namespace sw
