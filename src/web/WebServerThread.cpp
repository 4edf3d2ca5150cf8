#include "web/WebServerThread.h"

#include "config/Configuration.h"
#include "log/CommaText.h"
#include "log/LogTypes.h"
#include "web/ContentTypes.h"
#include "web/HomeFile.h"
#include "web/HttpDate.h"
#include "web/StatusCodes.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>

namespace sw {

namespace {

constexpr size_t kReadBytes = 64 * 1024;
// What a lingering close drains at most before it gives up on the peer.
constexpr size_t kMaxLingerBytes = 4 * 1024 * 1024;

std::string ErrorPage(uint16_t code) {
    std::string c = std::to_string(code);
    return "<html>\r\n<head>\r\n<title>Error " + c + "</title>\r\n</head>\r\n<body>\r\n<h2>HTTP Error " + c +
           "</h2>\r\n<p><strong>" + c + " " + StatusCodes().ReasonPhrase(code) +
           "</strong></p>\r\n</body>\r\n</html>";
}

uint8_t MethodMessage(WebMethod method) {
    switch (method) {
    case WebMethod::Get:
        return lmWebGet;
    case WebMethod::Post:
        return lmWebPost;
    case WebMethod::Put:
        return lmWebPut;
    case WebMethod::Head:
        return lmWebHead;
    case WebMethod::Unknown:
        break;
    }
    return lmWebUnknown;
}

int MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<int64_t>(left.count() + 1, 0, 60 * 60 * 1000));
}

} // namespace

TWebServerThread::TWebServerThread(TUniqueFd connection, std::string remoteAddress,
                                   TWebConnectionLimits limits)
    : TServerThread(std::move(connection), std::move(remoteAddress)), FLimits(limits) {}

void TWebServerThread::Execute() {
    // Every wait is a poll() that the server's Close can end; a blocking call could not be woken.
    int flags = ::fcntl(SocketHandle(), F_GETFL);
    if (flags < 0 || ::fcntl(SocketHandle(), F_SETFL, flags | O_NONBLOCK) != 0) {
        return;
    }
    ServeConnection();
    Linger();
}

void TWebServerThread::ServeConnection() {
    Request = std::make_unique<TWebRequest>();
    Response = std::make_unique<TWebResponse>();
    KeepAlive = true;
    FLastActivity = TClock::now();
    while (!Terminated() && FConnected && KeepAlive) {
        auto deadline = FLastActivity + std::chrono::milliseconds(FLimits.IdleTimeoutMs);
        if (FRequestStarted && (Request->State == RequestParseState::RequestLine ||
                                Request->State == RequestParseState::Headers)) {
            deadline = std::min(deadline, FRequestStart + std::chrono::milliseconds(FLimits.HeaderTimeoutMs));
        } else if (FRequestStarted && Request->State == RequestParseState::Body) {
            // A body trickled in a byte at a time would otherwise hold the thread for ever.
            deadline =
                std::min(deadline, FRequestStart + std::chrono::milliseconds(FLimits.RequestTimeoutMs));
        }
        if (TClock::now() >= deadline) {
            break;
        }
        if (WaitReadable(MillisecondsUntil(deadline))) {
            ReadRequestData();
        }
    }
    Request.reset();
    Response.reset();
}

void TWebServerThread::ReadRequestData() {
    FReadBuffer.resize(kReadBytes);
    ssize_t n = ::recv(SocketHandle(), FReadBuffer.data(), FReadBuffer.size(), 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return;
    }
    if (n <= 0) {
        FConnected = false;
        return;
    }
    FLastActivity = TClock::now();
    if (!FRequestStarted) {
        FRequestStarted = true;
        FRequestStart = FLastActivity;
    }
    Request->AddData(std::string_view(FReadBuffer.data(), static_cast<size_t>(n)));
    while (Request->State == RequestParseState::Complete || Request->State == RequestParseState::Invalid) {
        HandleRequest();
        if (!KeepAlive || !FConnected || Terminated()) {
            return;
        }
        FLastActivity = TClock::now();
        FRequestStarted = !Request->Buffer.empty() || Request->State != RequestParseState::RequestLine;
        FRequestStart = FLastActivity;
    }
}

void TWebServerThread::HandleRequest() {
    KeepAlive = ::strcasecmp(Request->GetHeader(kRequestConnection).c_str(), "Keep-Alive") == 0;
    Response->StatusCode = 200;
    bool errorRequest = false;
    if (Request->State == RequestParseState::Complete) {
        std::string path = UriPath(Request->URI);
        if (HandOverLive(path)) {
            return;
        }
        // A copy taken under the section's lock: the options dialog may change it meanwhile.
        std::string home = ConfigurationExists() ? Configuration().Web().Path() : std::string();
        THomeFile file = OpenHomeFile(home, path);
        if (file.Status == 200 && IsPrivateFile(file.Fd.Get(), ConfiguredPrivateFiles())) {
            // The settings hold the blocked list and the log holds viewers' addresses.
            file = THomeFile();
        }
        if (file.Status == 200) {
            Response->SetContentSource(std::make_unique<TFileContentSource>(std::move(file.Fd), file.Size));
            const TContentTypes& types = ContentTypes();
            int index = types.IndexOf(ExtractFileExt(home + path));
            if (index >= 0) {
                Response->SetHeader(kResponseContentType, types.Items(index).ContentType);
            }
        } else {
            Response->StatusCode = file.Status;
        }
    } else {
        Response->StatusCode = Request->ErrorCode != 0                 ? Request->ErrorCode
                               : Request->Method != WebMethod::Unknown ? 400
                                                                       : 405;
        errorRequest = true;
    }
    if (Request->MustClose) {
        KeepAlive = false;
    }
    if (errorRequest) {
        Response->Content = ErrorPage(Response->StatusCode);
        Response->SetHeader(kResponseContentType, "text/html");
        KeepAlive = false;
    }
    if (KeepAlive) {
        Response->SetHeader(kResponseConnection, "Keep-Alive");
    }
    if (Response->StatusCode == 200 && Response->ContentLength() == 0) {
        Response->StatusCode = 204;
    }
    if (Response->StatusCode == 204 || Response->StatusCode == 304) {
        Response->SetContentSource(nullptr);
        Response->SetHeader(kResponseContentType, "");
    } else {
        Response->SetHeader(kResponseContentLength, std::to_string(Response->ContentLength()));
    }
    if (Request->Method == WebMethod::Head) {
        Response->SetContentSource(nullptr);
    }
    Response->SetHeader(kResponseDate, FormatHttpDate(UtcNow()));

    std::vector<std::string> report = {
        "Status code: " + std::to_string(Response->StatusCode),
        "Remote Address: " + RemoteAddress(),
        "Agent: " + Request->GetHeader(kRequestUserAgent),
    };
    PostLogEntry(llInformation, MethodMessage(Request->Method), errorRequest ? std::string() : Request->URI,
                 ToCommaText(report));

    SendResponse();
    if (Response->ContentFailed()) {
        // The header block promised more bytes than the file gave; only closing tells the peer.
        KeepAlive = false;
    }
    if (KeepAlive && FConnected) {
        Request->NextRequest();
    } else {
        Request->Reset();
    }
    Response->Reset();
}

bool TWebServerThread::HandOverLive(const std::string& path) {
    std::optional<TLiveRequest> live = LiveHandOver ? LiveResourceOf(path) : std::nullopt;
    if (!live) {
        return false;
    }
    live->HeadOnly = Request->Method == WebMethod::Head;
    live->Message = MethodMessage(Request->Method);
    live->Uri = Request->URI;
    live->RemoteAddress = RemoteAddress();
    live->Agent = Request->GetHeader(kRequestUserAgent);
    if (TUniqueFd connection = HandOverSocket()) {
        // The engine answers and logs it from now on; this thread is done with the connection.
        LiveHandOver(std::move(connection), std::move(*live));
    }
    FConnected = false;
    KeepAlive = false;
    Request->Reset();
    Response->Reset();
    return true;
}

void TWebServerThread::SendResponse() {
    FWriteBuffer.clear();
    while (FConnected && Response->State != ResponseSendState::Done) {
        FWriteBuffer += Response->GetNext();
        if (FWriteBuffer.size() >= TWebResponse::kContentPieceBytes ||
            Response->State == ResponseSendState::Done) {
            if (!WriteAll(FWriteBuffer)) {
                FConnected = false;
            }
            FWriteBuffer.clear();
        }
    }
    if (FWriteBuffer.capacity() > 2 * TWebResponse::kContentPieceBytes) {
        std::string().swap(FWriteBuffer);
    }
}

void TWebServerThread::PostLogEntry(uint8_t level, uint8_t message, const std::string& detail,
                                    const std::string& values) {
    ::sw::PostLogEntry(LogWindow, level, message, Now(), detail, values);
}

bool TWebServerThread::WaitWritable(int timeoutMs) {
    struct pollfd item {};
    item.fd = SocketHandle();
    item.events = POLLOUT;
    for (;;) {
        if (Terminated()) {
            return false;
        }
        int result = ::poll(&item, 1, timeoutMs);
        if (result < 0 && errno == EINTR) {
            continue;
        }
        return result > 0 && !Terminated();
    }
}

bool TWebServerThread::WriteAll(std::string_view data) {
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = ::send(SocketHandle(), data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitWritable(FLimits.WriteTimeoutMs)) {
                return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

void TWebServerThread::Linger() {
    // Closing with unread input makes the kernel send a reset, which can destroy the response the peer
    // has not read yet (a 413 while it is still sending the body); so stop sending and drain first.
    if (!FConnected || KeepAlive || Terminated()) {
        return;
    }
    ::shutdown(SocketHandle(), SHUT_WR);
    auto deadline = TClock::now() + std::chrono::milliseconds(FLimits.LingerMs);
    size_t drained = 0;
    FReadBuffer.resize(kReadBytes);
    while (drained < kMaxLingerBytes && WaitReadable(MillisecondsUntil(deadline))) {
        ssize_t n = ::recv(SocketHandle(), FReadBuffer.data(), FReadBuffer.size(), 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        drained += static_cast<size_t>(n);
    }
}

std::unique_ptr<TServerThread> CreateWebServerThread(TUniqueFd connection, const std::string& remoteAddress,
                                                     TMessageWindow logWindow,
                                                     const TWebConnectionLimits& limits,
                                                     TLiveHandOver liveHandOver) {
    auto thread = std::make_unique<TWebServerThread>(std::move(connection), remoteAddress, limits);
    thread->LogWindow = logWindow;
    thread->LiveHandOver = std::move(liveHandOver);
    return thread;
}

} // namespace sw
