#include "publish/PublishUrl.h"

#include <algorithm>
#include <cctype>

namespace sw {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool ValidPort(const std::string& port) {
    if (port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); })) {
        return false;
    }
    const int value = std::stoi(port);
    return value >= 1 && value <= 65535;
}

TPublishTarget Bad(TPublishTarget target, const std::string& problem) {
    target.Valid = false;
    target.Problem = problem;
    return target;
}

} // namespace

TPublishTarget ParsePublishUrl(const std::string& url) {
    TPublishTarget target;
    target.Url = Trim(url);
    const std::string& text = target.Url;
    if (text.empty()) {
        return Bad(target, "Bad URL: the URL is empty");
    }
    if (std::any_of(text.begin(), text.end(), [](unsigned char c) { return c <= 32 || c == 127; })) {
        return Bad(target, "Bad URL: it contains spaces or control characters");
    }
    const size_t schemeEnd = text.find("://");
    if (schemeEnd == std::string::npos || schemeEnd == 0) {
        return Bad(target, "Bad URL: expected scheme://host/..., for example rtmp://server/app/key");
    }
    target.Scheme = Lower(text.substr(0, schemeEnd));

    const size_t authorityStart = schemeEnd + 3;
    const size_t authorityEnd = std::min(text.find_first_of("/?#", authorityStart), text.size());
    std::string authority = text.substr(authorityStart, authorityEnd - authorityStart);
    // Credentials never reach the log.
    if (const size_t at = authority.rfind('@'); at != std::string::npos) {
        target.Secrets.push_back(authority.substr(0, at));
        authority.erase(0, at + 1);
    }
    std::string host = authority;
    std::string port;
    if (!host.empty() && host.front() == '[') {
        const size_t close = host.find(']');
        if (close == std::string::npos) {
            return Bad(target, "Bad URL: unterminated IPv6 address");
        }
        if (close + 1 < host.size()) {
            if (host[close + 1] != ':') {
                return Bad(target, "Bad URL: unexpected text after the IPv6 address");
            }
            port = host.substr(close + 2);
        }
        host = host.substr(0, close + 1);
    } else if (const size_t colon = host.rfind(':'); colon != std::string::npos) {
        port = host.substr(colon + 1);
        host.erase(colon);
    }
    target.Host = host;
    const std::string hostPort = port.empty() ? host : host + ":" + port;
    const size_t queryStart = std::min(text.find_first_of("?#", authorityEnd), text.size());
    const std::string path = text.substr(authorityEnd, queryStart - authorityEnd);
    if (queryStart + 1 < text.size()) {
        target.Secrets.push_back(text.substr(queryStart + 1));
    }
    target.Redacted = target.Scheme + "://" + hostPort;

    if (target.Scheme == "rtmp" || target.Scheme == "rtmps") {
        target.Muxer = "flv";
        target.NeedsStandardSampleRate = true;
        // rtmp://server/app/key: the application is the first path element, the key the rest.
        const size_t appStart = path.find_first_not_of('/');
        const size_t appEnd = appStart == std::string::npos ? std::string::npos : path.find('/', appStart);
        if (appStart != std::string::npos) {
            target.Redacted +=
                "/" + path.substr(appStart, appEnd == std::string::npos ? appEnd : appEnd - appStart);
        }
        if (appEnd != std::string::npos && appEnd + 1 < path.size()) {
            target.Secrets.push_back(path.substr(appEnd + 1));
        }
    } else if (target.Scheme == "srt") {
        target.Muxer = "mpegts";
    } else if (target.Scheme == "rtsp") {
        target.Muxer = "rtsp";
        target.Redacted += path;
    } else {
        return Bad(target, "Unknown scheme \"" + target.Scheme + "\": use rtmp, rtmps, srt or rtsp");
    }

    if (host.empty() || host == "[]") {
        return Bad(target, "Bad URL: no host name");
    }
    if (!port.empty() && !ValidPort(port)) {
        return Bad(target, "Bad URL: the port \"" + port + "\" is not a number from 1 to 65535");
    }
    if (target.Muxer == "flv" && target.Redacted == target.Scheme + "://" + hostPort) {
        return Bad(target, "Bad URL: no application name, expected " + target.Scheme + "://server/app/key");
    }
    if (target.Scheme == "srt" && port.empty()) {
        return Bad(target, "Bad URL: SRT needs a port, as in srt://host:port");
    }
    target.Valid = true;
    return target;
}

std::string ScrubSecrets(std::string text, const TPublishTarget& target) {
    std::vector<std::string> secrets = target.Secrets;
    std::sort(secrets.begin(), secrets.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& secret : secrets) {
        if (secret.empty()) {
            continue;
        }
        for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 4)) {
            text.replace(at, secret.size(), "****");
        }
    }
    return text;
}

} // namespace sw
