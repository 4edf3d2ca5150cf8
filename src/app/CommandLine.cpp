#include "app/CommandLine.h"

#include "SwVersion.h"
#include "config/Configuration.h"
#include "platform/capture/CaptureDriverTable.h"
#include "platform/net/NetUtil.h"
#include "platform/shell/VersionInfo.h"
#include "platform/sound/SoundInputTable.h"

#include <QCommandLineParser>
#include <QStringList>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace sw {

namespace {

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') {
        return path;
    }
    char cwd[4096];
    if (!::getcwd(cwd, sizeof cwd)) {
        return path;
    }
    return std::string(cwd) + "/" + path;
}

// Empty when the name may be used for the settings or the log: a regular file, or none yet.
std::string FileProblem(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return {};
    }
    return S_ISREG(st.st_mode) ? std::string()
                               : std::string(S_ISDIR(st.st_mode) ? "a folder" : "not a regular file");
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "streamwright: %s\n%s", message.c_str(),
                 "Run streamwright --help for the options and settings.\n");
    return 2;
}

} // namespace

std::string UsageText() {
    const std::string iniFile = ChangeFileExt(ExecutablePath(), ".ini");
    return "Usage: streamwright [--start] [--ini FILE] [--publish URL] [--listen ADDR]\n"
           "       streamwright --headless [--start] [--ini FILE] [--publish URL] [--listen ADDR]\n"
           "       streamwright --report | --update-html [--ini FILE]\n"
           "       streamwright --help | --version\n"
           "\n"
           "  --headless   run without windows; message boxes and log entries go to standard error\n"
           "  --start      start the broadcast as soon as the devices are initialised; without\n"
           "               windows, exit with status 1 when it cannot start\n"
           "  --report     print the configuration report and exit\n"
           "  --update-html\n"
           "               rewrite the viewer page's applet element for this host and its ports;\n"
           "               exit with status 0 when updated, 1 otherwise (messages on standard error)\n"
           "  --ini FILE   settings file (a regular file, or one to be created);\n"
           "               the log file is FILE with \".log\"\n"
           "  --publish URL\n"
           "               also send the broadcast to a media server for this run (rtmp://server/app/key,\n"
           "               srt://host:port?streamid=..., rtsp://server/path); the settings file is not "
           "changed\n"
           "  --listen ADDR\n"
           "               accept viewers and browsers on this address only for this run (127.0.0.1, ::1,\n"
           "               a host name); the settings file is not changed\n"
           "  --version    print the version and licence and exit\n"
           "  --help       print this text and exit\n"
           "\n"
           "Files: settings " +
           iniFile +
           "\n"
           "       log      " +
           ChangeFileExt(iniFile, ".log") +
           "\n"
           "\n"
           "Settings to set first (section, key, default); video and audio are off until enabled:\n"
           "  [Video]  Enabled=0  Device=  Port=2001   the camera, or \"" +
           kTestPatternName +
           "\"\n"
           "  [Audio]  Enabled=0  Device=  Port=2002   the sound input, or \"" +
           kTestToneName +
           "\"\n"
           "  [Web]    Enabled=0  Port=80  Path=       the home folder served; empty is the\n"
           "                                           executable's folder\n"
           "For example, a broadcast of the built-in test devices with its web server on port 8080:\n"
           "  [Video]\n  Enabled=1\n  Device=" +
           kTestPatternName +
           "\n"
           "  [Audio]\n  Enabled=1\n  Device=" +
           kTestToneName +
           "\n"
           "  [Web]\n  Enabled=1\n  Port=8080\n"
           "\n"
           "SIGINT or SIGTERM stops a running broadcast, writes the log and exits.\n"
           "\n"
           "With the web server on, browsers watch at http://HOST:WEBPORT/ (the viewer page); any MJPEG\n"
           "client plays http://HOST:WEBPORT/live/stream.mjpg (?fps=N for fewer frames), the newest frame "
           "is\n"
           "/live/snapshot.jpg and the sound (G.711 mu-law, 8000 Hz, mono) /live/audio.\n";
}

std::optional<int> ParseCommandLine(const std::vector<std::string>& arguments, TCommandLine& options) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("help"), QStringLiteral("h")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption headless(QStringLiteral("headless"));
    const QCommandLineOption start(QStringLiteral("start"));
    const QCommandLineOption report(QStringLiteral("report"));
    const QCommandLineOption updateHtml(QStringLiteral("update-html"));
    const QCommandLineOption ini(QStringLiteral("ini"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption publish(QStringLiteral("publish"), QString(), QStringLiteral("URL"));
    const QCommandLineOption listen(QStringLiteral("listen"), QString(), QStringLiteral("ADDR"));
    for (const QCommandLineOption* option :
         {&help, &version, &headless, &start, &report, &updateHtml, &ini, &publish, &listen}) {
        parser.addOption(*option);
    }
    QStringList list{QStringLiteral("streamwright")};
    for (const std::string& argument : arguments) {
        list.append(QString::fromStdString(argument));
    }
    if (!parser.parse(list)) {
        return Fail(parser.errorText().toStdString());
    }
    if (!parser.positionalArguments().isEmpty()) {
        return Fail("unexpected argument " + parser.positionalArguments().first().toStdString());
    }
    if (parser.isSet(help)) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("%s %s\nLicense: %s\n", VersionInfo().Value(TVersionInfo::ProductName).c_str(),
                    VersionInfo().Value(TVersionInfo::FileVersion).c_str(), SW_LICENSE);
        return 0;
    }
    if (parser.isSet(report) && parser.isSet(updateHtml)) {
        return Fail("--report and --update-html exclude each other");
    }
    options.Headless = parser.isSet(headless);
    options.Start = parser.isSet(start);
    options.Command = parser.isSet(report)       ? TOneShotCommand::Report
                      : parser.isSet(updateHtml) ? TOneShotCommand::UpdateHtml
                                                 : TOneShotCommand::None;
    options.PublishUrl = parser.value(publish).toStdString();
    if (parser.isSet(listen)) {
        options.ListenAddress = parser.value(listen).toStdString();
        if (options.ListenAddress.empty()) {
            return Fail("--listen needs an address");
        }
        try {
            ResolveListenAddress(options.ListenAddress, 0);
        } catch (const std::exception& error) {
            return Fail("cannot listen on " + options.ListenAddress + ": " + error.what());
        }
    }
    if (parser.isSet(ini)) {
        const std::string name = parser.value(ini).toStdString();
        if (name.empty()) {
            return Fail("--ini needs a file name");
        }
        options.IniFile = AbsolutePath(name);
        // A FIFO would hang the start-up in its open, and a device would get a ".log" beside it.
        for (const std::string& file : {options.IniFile, ChangeFileExt(options.IniFile, ".log")}) {
            if (std::string problem = FileProblem(file); !problem.empty()) {
                return Fail("cannot use " + file + " as a settings or log file: " + problem);
            }
        }
    }
    return std::nullopt;
}

std::string SettingsFileName(const TCommandLine& options) {
    return options.IniFile.empty() ? ChangeFileExt(ExecutablePath(), ".ini") : options.IniFile;
}

} // namespace sw
